#pragma once
// The notification a started Reachability watcher posts on the main queue when its target's
// reachability changes; the object is the watcher, there is no payload. Global like Reachability
// itself, whose name the application uses.

inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";
