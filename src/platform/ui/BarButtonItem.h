#pragma once
// BarButtonItem: an item of a navigation bar: a custom view, or a title with an action.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class View;

class BarButtonItem {
 public:
  enum class Style { Plain, Bordered, Done };

  explicit BarButtonItem(std::shared_ptr<View> customView);
  BarButtonItem(std::string title, Style style, std::function<void()> action);

  std::shared_ptr<View> customView() const { return customView_; }
  const std::optional<std::string>& title() const { return title_; }
  Style style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // Runs the item's action (the bar's button for a titled item calls it).
  void trigger() const;

 private:
  std::shared_ptr<View> customView_;
  std::optional<std::string> title_;
  Style style_ = Style::Plain;
  std::function<void()> action_;
  bool enabled_ = true;
  int tag_ = 0;
};

}  // namespace platform
