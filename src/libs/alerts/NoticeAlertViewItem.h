#pragma once
// NoticeAlertViewItem: one button of a button alert: its title, its style (the button's
// `alertButtonType`) and the block a tap runs.

#include <functional>
#include <optional>
#include <string>

class NoticeAlertViewItem {
 public:
  NoticeAlertViewItem(std::optional<std::string> title, int type, std::function<void()> block)
      : _block(std::move(block)), _type(type), _title(std::move(title)) {}

  const std::function<void()>& block() const { return _block; }
  void setBlock(std::function<void()> block) { _block = std::move(block); }
  int type() const { return _type; }
  void setType(int type) { _type = type; }
  const std::optional<std::string>& title() const { return _title; }
  void setTitle(std::optional<std::string> title) { _title = std::move(title); }

 private:
  std::function<void()> _block;
  int _type;
  std::optional<std::string> _title;
};
