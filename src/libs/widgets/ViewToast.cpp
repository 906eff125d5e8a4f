#include "widgets/ViewToast.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/Thread.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextMeasurer.h"

using platform::Color;
using platform::Font;
using platform::Image;
using platform::Point;
using platform::Rect;
using platform::Size;
using platform::View;

namespace {

constexpr double kEdgeDistance = 10;
constexpr double kMargin = 10;
constexpr double kMaxWidthShare = 0.8;
constexpr double kMaxHeightShare = 0.8;
constexpr double kImageSide = 80;
constexpr double kActivitySide = 100;
constexpr double kFontSize = 16;

// The key under which a host keeps its activity box.
const char kActivityKey = 0;

void styleBox(View& box) {
  box.setBackgroundColor(Color::blackColor().withAlpha(0.8));
  box.layer().setCornerRadius(10);
  box.layer().setShadowColor(Color::blackColor());
  box.layer().setShadowOpacity(0.8);
  box.layer().setShadowRadius(6);
  box.layer().setShadowOffset({4, 4});
  box.setAutoresizingMask(
      platform::Autoresizing::FlexibleLeftMargin | platform::Autoresizing::FlexibleRightMargin |
      platform::Autoresizing::FlexibleTopMargin | platform::Autoresizing::FlexibleBottomMargin);
}

// A white label of any number of lines holding `text`, sized to what it needs within `limit`.
std::shared_ptr<platform::Label> textLabel(const std::string& text, const Font& font, Size limit) {
  auto label = platform::Label::create();
  label->setNumberOfLines(0);
  label->setFont(font);
  label->setTextAlignment(platform::TextAlignment::Left);
  label->setLineBreakMode(platform::LineBreakMode::WordWrap);
  label->setTextColor(Color::whiteColor());
  label->setBackgroundColor(Color::clearColor());
  label->setText(text);
  Size needed =
      platform::TextMeasurer::sizeOfText(text, font, limit, platform::LineBreakMode::WordWrap);
  label->setFrame({0, 0, needed.width, needed.height});
  return label;
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

void ViewToast::makeToast(View& host, const std::optional<std::string>& message) {
  makeToast(host, message, kDefaultDuration, std::string(kDefaultPosition));
}

void ViewToast::makeToast(View& host, const std::optional<std::string>& message, double duration,
                          const ToastPosition& position) {
  showToast(host, viewForMessage(host, message, std::nullopt, nullptr), duration, position);
}

void ViewToast::makeToast(View& host, const std::optional<std::string>& message, double duration,
                          const ToastPosition& position, const std::optional<std::string>& title) {
  showToast(host, viewForMessage(host, message, title, nullptr), duration, position);
}

void ViewToast::makeToast(View& host, const std::optional<std::string>& message, double duration,
                          const ToastPosition& position, std::shared_ptr<Image> image) {
  showToast(host, viewForMessage(host, message, std::nullopt, std::move(image)), duration,
            position);
}

void ViewToast::makeToast(View& host, const std::optional<std::string>& message, double duration,
                          const ToastPosition& position, const std::optional<std::string>& title,
                          std::shared_ptr<Image> image) {
  showToast(host, viewForMessage(host, message, title, std::move(image)), duration, position);
}

void ViewToast::showToast(View& host, const std::shared_ptr<View>& toast) {
  showToast(host, toast, kDefaultDuration, std::string(kDefaultPosition));
}

void ViewToast::showToast(View& host, const std::shared_ptr<View>& toast, double duration,
                          const ToastPosition& position) {
  platform::assertMainThread("ViewToast::showToast");
  if (!toast) return;
  toast->setCenter(centerPointForPosition(host, position, *toast));
  toast->setAlpha(0);
  host.addSubview(toast);
  // The toast holds itself through its animations until it has removed itself.
  View::animate(
      kFadeDuration, [toast] { toast->setAlpha(1); },
      [toast, duration](bool) {
        View::animate(
            kFadeDuration, [toast] { toast->setAlpha(0); },
            [toast](bool) { toast->removeFromSuperview(); }, duration,
            platform::AnimationOption::CurveEaseIn);
      },
      0, platform::AnimationOption::CurveEaseOut);
}

void ViewToast::makeToastActivity(View& host) { makeToastActivity(host, std::string("center")); }

void ViewToast::makeToastActivity(View& host, const ToastPosition& position) {
  platform::assertMainThread("ViewToast::makeToastActivity");
  if (toastActivity(host)) return;
  auto box = View::create(Rect{0, 0, kActivitySide, kActivitySide});
  box->setCenter(centerPointForPosition(host, position, *box));
  styleBox(*box);
  box->setAlpha(0);
  auto spinner =
      platform::ActivityIndicatorView::create(platform::ActivityIndicatorStyle::WhiteLarge);
  spinner->setCenter({kActivitySide / 2, kActivitySide / 2});
  box->addSubview(spinner);
  spinner->startAnimating();
  host.setAssociatedObject(&kActivityKey, box);
  host.addSubview(box);
  View::animate(
      kFadeDuration, [box] { box->setAlpha(1); }, {}, 0, platform::AnimationOption::CurveEaseOut);
}

void ViewToast::hideToastActivity(View& host) {
  platform::assertMainThread("ViewToast::hideToastActivity");
  auto box = toastActivity(host);
  if (!box) return;
  std::weak_ptr<View> weakHost = std::static_pointer_cast<View>(host.weak_from_this().lock());
  View::animate(
      kFadeDuration, [box] { box->setAlpha(0); },
      [box, weakHost](bool) {
        box->removeFromSuperview();
        if (auto h = weakHost.lock()) {
          if (toastActivity(*h) == box) h->setAssociatedObject(&kActivityKey, nullptr);
        }
      },
      0, platform::AnimationOption::CurveEaseIn | platform::AnimationOption::BeginFromCurrentState);
}

std::shared_ptr<View> ViewToast::toastActivity(const View& host) {
  return std::static_pointer_cast<View>(host.associatedObject(&kActivityKey));
}

Point ViewToast::centerPointForPosition(const View& host, const ToastPosition& position,
                                        const View& toast) {
  Size bounds = host.bounds().size;
  double h = toast.frame().height();
  if (const auto* point = std::get_if<Point>(&position)) return *point;
  std::string name;
  if (const auto* text = std::get_if<std::string>(&position)) name = lowercase(*text);
  if (name == "top") return {bounds.width / 2, h / 2 + kEdgeDistance};
  if (name == "center") return {bounds.width / 2, bounds.height / 2};
  return {bounds.width / 2, bounds.height - h / 2 - kEdgeDistance};
}

std::shared_ptr<View> ViewToast::viewForMessage(const View& host,
                                                const std::optional<std::string>& message,
                                                const std::optional<std::string>& title,
                                                std::shared_ptr<Image> image) {
  if (!message && !title && !image) return nullptr;
  auto box = View::create();
  styleBox(*box);

  std::shared_ptr<platform::ImageView> imageView;
  double imageWidth = 0, imageHeight = 0, imageLeft = 0;
  if (image) {
    imageView = platform::ImageView::create(Rect{kMargin, kMargin, kImageSide, kImageSide});
    imageView->setImage(std::move(image));
    imageView->setContentMode(platform::ContentMode::ScaleAspectFit);
    imageWidth = imageView->bounds().width();
    imageHeight = imageView->bounds().height();
    imageLeft = kMargin;
  }

  Size hostSize = host.bounds().size;
  Size limit{hostSize.width * kMaxWidthShare - imageWidth, hostSize.height * kMaxHeightShare};
  std::shared_ptr<platform::Label> titleLabel, messageLabel;
  if (title) titleLabel = textLabel(*title, Font::boldSystemFont(kFontSize), limit);
  if (message) messageLabel = textLabel(*message, Font::systemFont(kFontSize), limit);

  Rect titleFrame, messageFrame;
  if (titleLabel) {
    titleFrame = {imageLeft + imageWidth + kMargin, kMargin, titleLabel->bounds().width(),
                  titleLabel->bounds().height()};
  }
  if (messageLabel) {
    messageFrame = {imageLeft + imageWidth + kMargin,
                    titleFrame.y() + titleFrame.height() + kMargin, messageLabel->bounds().width(),
                    messageLabel->bounds().height()};
  }
  double wider = std::max(titleFrame.width(), messageFrame.width());
  double furtherLeft = std::max(titleFrame.x(), messageFrame.x());
  double boxWidth = std::max(imageWidth + 2 * kMargin, furtherLeft + wider + kMargin);
  double boxHeight =
      std::max(messageFrame.y() + messageFrame.height() + kMargin, imageHeight + 2 * kMargin);
  // A title without a message: the box also holds the title (the message terms are all 0).
  if (titleLabel && !messageLabel) {
    boxHeight = std::max(boxHeight, titleFrame.maxY() + kMargin);
  }
  box->setFrame({0, 0, boxWidth, boxHeight});
  if (titleLabel) {
    titleLabel->setFrame(titleFrame);
    box->addSubview(titleLabel);
  }
  if (messageLabel) {
    messageLabel->setFrame(messageFrame);
    box->addSubview(messageLabel);
  }
  if (imageView) box->addSubview(imageView);
  return box;
}
