#include "platform/ui/TableViewCell.h"

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/TableView.h"

namespace platform {

TableViewCell::TableViewCell(TableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : View(Rect{0, 0, 320, 44}), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setBackgroundColor(Color::whiteColor());
  contentView_ = View::create(bounds());
  contentView_->setBackgroundColor(Color::clearColor());
  addSubview(contentView_);
}

std::shared_ptr<Label> TableViewCell::textLabel() {
  if (!textLabel_) {
    textLabel_ = Label::create();
    textLabel_->setBackgroundColor(Color::clearColor());
    textLabel_->setFont(Font::boldSystemFont(style_ == TableViewCellStyle::Default ? 20 : 17));
    contentView_->addSubview(textLabel_);
    setNeedsLayout();
  }
  return textLabel_;
}

std::shared_ptr<Label> TableViewCell::detailTextLabel() {
  if (style_ == TableViewCellStyle::Default) return nullptr;
  if (!detailTextLabel_) {
    detailTextLabel_ = Label::create();
    detailTextLabel_->setBackgroundColor(Color::clearColor());
    detailTextLabel_->setFont(Font::systemFont(style_ == TableViewCellStyle::Subtitle ? 14 : 17));
    detailTextLabel_->setTextColor(style_ == TableViewCellStyle::Value1 ? Color::rgb255(56, 84, 135)
                                                                        : Color::grayColor());
    if (style_ == TableViewCellStyle::Value1)
      detailTextLabel_->setTextAlignment(TextAlignment::Right);
    contentView_->addSubview(detailTextLabel_);
    setNeedsLayout();
  }
  return detailTextLabel_;
}

std::shared_ptr<ImageView> TableViewCell::imageView() {
  if (!imageView_) {
    imageView_ = ImageView::create();
    contentView_->addSubview(imageView_);
    setNeedsLayout();
  }
  return imageView_;
}

void TableViewCell::setAccessoryType(TableViewCellAccessory a) {
  accessory_ = a;
  setNeedsLayout();
  setNeedsDisplay();
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> view) {
  if (accessoryView_) accessoryView_->removeFromSuperview();
  accessoryView_ = std::move(view);
  if (accessoryView_) addSubview(accessoryView_);
  setNeedsLayout();
}

void TableViewCell::setBackgroundView(std::shared_ptr<View> view) {
  if (backgroundView_) backgroundView_->removeFromSuperview();
  backgroundView_ = std::move(view);
  if (backgroundView_) insertSubview(backgroundView_, 0);
  setNeedsLayout();
}

void TableViewCell::setSelectedBackgroundView(std::shared_ptr<View> view) {
  if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
  selectedBackgroundView_ = std::move(view);
  setNeedsLayout();
  layoutSubviews();
}

void TableViewCell::setSelected(bool selected, bool) {
  selected_ = selected;
  setNeedsLayout();
  layoutSubviews();
}

void TableViewCell::setHighlighted(bool highlighted, bool) {
  highlighted_ = highlighted;
  if (textLabel_) textLabel_->setHighlighted(highlighted || selected_);
}

void TableViewCell::setEditing(bool editing, bool) {
  editing_ = editing;
  setNeedsLayout();
}

TableView* TableViewCell::tableView() const {
  for (View* v = superviewPointer(); v; v = v->superviewPointer()) {
    if (auto* table = dynamic_cast<TableView*>(v)) return table;
  }
  return nullptr;
}

void TableViewCell::layoutSubviews() {
  Rect b = bounds();
  bool showsSelection = selected_ && selectionStyle_ != TableViewCellSelectionStyle::None;
  if (selectedBackgroundView_) {
    if (showsSelection) {
      selectedBackgroundView_->setFrame(b);
      insertSubview(selectedBackgroundView_, backgroundView_ ? 1 : 0);
    } else if (selectedBackgroundView_->superviewPointer() == this) {
      selectedBackgroundView_->removeFromSuperview();
    }
  }
  if (backgroundView_) backgroundView_->setFrame(b);
  double indent = editing_ ? kEditingIndent : 0;
  bool hasAccessory = accessoryView_ || accessory_ != TableViewCellAccessory::None;
  double right = hasAccessory && !editing_ ? kAccessoryWidth : 0;
  if (accessoryView_) {
    Rect f = accessoryView_->frame();
    accessoryView_->setFrame(
        {b.width() - 10 - f.width(), (b.height() - f.height()) / 2, f.width(), f.height()});
    accessoryView_->setHidden(editing_);
    right = f.width() + 20;
  }
  contentView_->setFrame({indent, 0, b.width() - indent - right, b.height()});
  Rect c = contentView_->bounds();
  double x = 10;
  if (imageView_ && imageView_->image()) {
    Size s = imageView_->image()->size();
    imageView_->setFrame({x, (c.height() - s.height) / 2, s.width, s.height});
    x += s.width + 10;
  }
  if (textLabel_) {
    textLabel_->setHighlighted(showsSelection);
    if (style_ == TableViewCellStyle::Subtitle && detailTextLabel_) {
      textLabel_->setFrame({x, 2, c.width() - x - 10, c.height() / 2 - 2});
    } else if (style_ == TableViewCellStyle::Value1 && detailTextLabel_) {
      textLabel_->setFrame({x, 0, (c.width() - x) / 2, c.height()});
    } else {
      textLabel_->setFrame({x, 0, c.width() - x - 10, c.height()});
    }
  }
  if (detailTextLabel_) {
    if (style_ == TableViewCellStyle::Subtitle) {
      detailTextLabel_->setFrame({x, c.height() / 2, c.width() - x - 10, c.height() / 2 - 2});
    } else {
      detailTextLabel_->setFrame({c.width() / 2, 0, c.width() / 2 - 10, c.height()});
    }
  }
}

void TableViewCell::drawRect(GraphicsContext& context, const Rect&) {
  Rect b = bounds();
  if (selected_ && selectionStyle_ != TableViewCellSelectionStyle::None &&
      !selectedBackgroundView_) {
    context.setFillColor(selectionStyle_ == TableViewCellSelectionStyle::Gray
                             ? Color::rgb255(200, 200, 200)
                             : Color::rgb255(5, 140, 245));
    context.fillRect(b);
  }
  if (TableView* table = tableView();
      table && table->separatorStyle() != TableViewCellSeparatorStyle::None) {
    context.setFillColor(table->separatorColor().value_or(Color::rgb255(224, 224, 224)));
    context.fillRect({b.x() + 10, b.maxY() - 0.5, b.width() - 10, 0.5});
  }
  if (accessoryView_ || editing_) return;
  double cx = b.width() - 18, cy = b.height() / 2;
  if (accessory_ == TableViewCellAccessory::DisclosureIndicator ||
      accessory_ == TableViewCellAccessory::DetailDisclosureButton) {
    context.setStrokeColor(Color::rgb255(128, 128, 128));
    context.setLineWidth(3);
    context.beginPath();
    context.moveTo(cx - 4, cy - 6);
    context.lineTo(cx + 2, cy);
    context.lineTo(cx - 4, cy + 6);
    context.strokePath();
  } else if (accessory_ == TableViewCellAccessory::Checkmark) {
    context.setStrokeColor(Color::rgb255(56, 84, 135));
    context.setLineWidth(3);
    context.beginPath();
    context.moveTo(cx - 7, cy);
    context.lineTo(cx - 2, cy + 5);
    context.lineTo(cx + 6, cy - 6);
    context.strokePath();
  }
}

void TableViewCell::touchesEnded(const std::vector<Touch>&) {
  TableView* table = tableView();
  if (!table) return;
  auto path = table->indexPathForCell(this);
  if (path) table->userSelectRow(*path);
}

}  // namespace platform
