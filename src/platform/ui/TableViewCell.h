#pragma once
// TableViewCell: a row of a table. Its content goes into `contentView` (the text label, detail
// label and image view of its style are made there on first use); the accessory (a standard
// mark or a custom view) sits at the right; the background view, and while selected the
// selected background view, lie behind. In editing mode the content is indented so that views
// placed left of it come into sight. A tap on a cell selects its row in its table.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace platform {

class TableView;

enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessory {
  None = 0,
  DisclosureIndicator,
  DetailDisclosureButton,
  Checkmark
};
enum class TableViewCellSelectionStyle { None = 0, Blue, Gray };

class TableViewCell : public View {
  CH_SHARED_OBJECT(TableViewCell)

 public:
  static constexpr double kEditingIndent = 38;
  static constexpr double kAccessoryWidth = 30;

  TableViewCellStyle style() const { return style_; }
  const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }

  std::shared_ptr<View> contentView() const { return contentView_; }
  std::shared_ptr<Label> textLabel();
  // Null for the default style, which has none.
  std::shared_ptr<Label> detailTextLabel();
  std::shared_ptr<ImageView> imageView();

  TableViewCellAccessory accessoryType() const { return accessory_; }
  void setAccessoryType(TableViewCellAccessory a);
  std::shared_ptr<View> accessoryView() const { return accessoryView_; }
  void setAccessoryView(std::shared_ptr<View> view);
  TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(TableViewCellSelectionStyle s) { selectionStyle_ = s; }
  std::shared_ptr<View> backgroundView() const { return backgroundView_; }
  void setBackgroundView(std::shared_ptr<View> view);
  std::shared_ptr<View> selectedBackgroundView() const { return selectedBackgroundView_; }
  void setSelectedBackgroundView(std::shared_ptr<View> view);

  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated);
  void setSelected(bool selected) { setSelected(selected, false); }
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted, bool animated);
  bool isEditing() const { return editing_; }
  virtual void setEditing(bool editing, bool animated);

  // Called when the table hands the cell out again from its reuse pool.
  virtual void prepareForReuse() {}

  // The table the cell is shown in.
  TableView* tableView() const;

  void layoutSubviews() override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;
  void touchesEnded(const std::vector<Touch>& touches) override;

 protected:
  explicit TableViewCell(TableViewCellStyle style = TableViewCellStyle::Default,
                         std::optional<std::string> reuseIdentifier = std::nullopt);

 private:
  TableViewCellStyle style_;
  std::optional<std::string> reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<Label> detailTextLabel_;
  std::shared_ptr<ImageView> imageView_;
  TableViewCellAccessory accessory_ = TableViewCellAccessory::None;
  std::shared_ptr<View> accessoryView_;
  TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Blue;
  std::shared_ptr<View> backgroundView_;
  std::shared_ptr<View> selectedBackgroundView_;
  bool selected_ = false;
  bool highlighted_ = false;
  bool editing_ = false;
};

}  // namespace platform
