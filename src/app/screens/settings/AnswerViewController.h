#pragma once
// AnswerViewController: the FAQ screen ("常见问题"): six fixed questions, each shown with its
// answer in one row whose height follows both texts. The settings screen makes a new one for
// every tap of its "常见问题" row; it works in every login state and without a network. Portrait
// only; main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

// Nothing sets or calls it; kept as the FAQ screen's delegate interface.
class AnswerControllerDelagate {
 public:
  virtual ~AnswerControllerDelagate() = default;
};

class AnswerViewController : public PortraitOnly<platform::ViewController>,
                             public platform::TableViewDataSource,
                             public platform::TableViewDelegate {
  CH_SHARED_OBJECT(AnswerViewController)

 public:
  static constexpr const char* kCellIdentifier = "Identifier";

  void viewDidLoad() override;
  void initNavBar();
  // Pops this screen, animated.
  void back();

  std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 1; }
  int numberOfRowsInSection(platform::TableView&, int) override;
  std::optional<double> heightForRowAtIndexPath(platform::TableView&,
                                                const platform::IndexPath& path) override;
  std::shared_ptr<platform::TableViewCell> cellForRowAtIndexPath(
      platform::TableView& table, const platform::IndexPath& path) override;

  // The height of `text` in the system font of `fontSize` wrapped by words within `width`; 0
  // for an absent text.
  static double heightForString(const std::optional<std::string>& text, double fontSize,
                                double width);

  const std::shared_ptr<platform::TableView>& ansTable() const { return _ansTable; }
  std::shared_ptr<AnswerControllerDelagate> delegate() const { return _delegate.lock(); }
  void setDelegate(std::weak_ptr<AnswerControllerDelagate> d) { _delegate = std::move(d); }

 protected:
  AnswerViewController() = default;

 private:
  std::shared_ptr<platform::TableView> _ansTable;
  // The questions in display order, and each question's answer.
  std::vector<std::string> items;
  std::map<std::string, std::string> item;
  std::weak_ptr<AnswerControllerDelagate> _delegate;
};
