#pragma once
// Notifications of the UI layer (no object). The status-bar ones carry the orientation as an
// integer under kApplicationStatusBarOrientationUserInfoKey: the new one before the change, the
// old one after it.

namespace platform {

inline constexpr const char* kDeviceOrientationDidChangeNotification =
    "UIDeviceOrientationDidChangeNotification";
inline constexpr const char* kApplicationWillChangeStatusBarOrientationNotification =
    "UIApplicationWillChangeStatusBarOrientationNotification";
inline constexpr const char* kApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";
inline constexpr const char* kApplicationStatusBarOrientationUserInfoKey =
    "UIApplicationStatusBarOrientationUserInfoKey";

}  // namespace platform
