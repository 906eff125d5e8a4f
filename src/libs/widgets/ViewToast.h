#pragma once
// ViewToast: short messages over any view. A toast is a dark, rounded, shadowed box holding an
// optional 80 x 80 image, an optional bold title and an optional message; it fades in over
// 0.2 s at its position, stays for its duration, fades out over 0.2 s and removes itself, so it
// is on screen for the duration plus 0.4 s. Toasts are not queued: several may show at once,
// and none can be cancelled.
//
// The activity box is a 100 x 100 box with a large white spinner that stays until hidden; a view
// has at most one (kept on the view).
//
// Positions: "top", "center", "bottom" (any case), or a point for the toast's centre; anything
// else, or none, is "bottom". Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

using ToastPosition = std::variant<std::monostate, std::string, platform::Point>;

class ViewToast {
 public:
  static constexpr double kDefaultDuration = 3.0;
  static constexpr const char* kDefaultPosition = "bottom";
  static constexpr double kFadeDuration = 0.2;

  static void makeToast(platform::View& host, const std::optional<std::string>& message);
  static void makeToast(platform::View& host, const std::optional<std::string>& message,
                        double duration, const ToastPosition& position);
  static void makeToast(platform::View& host, const std::optional<std::string>& message,
                        double duration, const ToastPosition& position,
                        const std::optional<std::string>& title);
  static void makeToast(platform::View& host, const std::optional<std::string>& message,
                        double duration, const ToastPosition& position,
                        std::shared_ptr<platform::Image> image);
  static void makeToast(platform::View& host, const std::optional<std::string>& message,
                        double duration, const ToastPosition& position,
                        const std::optional<std::string>& title,
                        std::shared_ptr<platform::Image> image);

  // Shows any view as a toast (nothing for a null one).
  static void showToast(platform::View& host, const std::shared_ptr<platform::View>& toast);
  static void showToast(platform::View& host, const std::shared_ptr<platform::View>& toast,
                        double duration, const ToastPosition& position);

  static void makeToastActivity(platform::View& host);
  static void makeToastActivity(platform::View& host, const ToastPosition& position);
  static void hideToastActivity(platform::View& host);
  // The host's activity box, if it has one.
  static std::shared_ptr<platform::View> toastActivity(const platform::View& host);

  // The centre for `toast` in the host's coordinates.
  static platform::Point centerPointForPosition(const platform::View& host,
                                                const ToastPosition& position,
                                                const platform::View& toast);
  // The toast box; null when message, title and image are all absent.
  static std::shared_ptr<platform::View> viewForMessage(const platform::View& host,
                                                        const std::optional<std::string>& message,
                                                        const std::optional<std::string>& title,
                                                        std::shared_ptr<platform::Image> image);
};
