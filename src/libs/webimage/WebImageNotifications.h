#pragma once
// The web image cache's notifications: a download starts (the downloader as object) and stops
// (no object when it finished or failed, the downloader when it was cancelled). No payload.
// Nothing in the application observes them.

inline constexpr const char* kWebImageDownloadStartNotification =
    "WebImageDownloadStartNotification";
inline constexpr const char* kWebImageDownloadStopNotification = "WebImageDownloadStopNotification";
