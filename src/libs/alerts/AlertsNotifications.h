#pragma once
// Notifications of the alert and notice queue (nil object, no payload). Nothing in the
// application observes them.

// A plain button alert (not a notice) came on screen straight from the queue call.
inline constexpr const char* kNoticeAlertViewDidAppearNotification =
    "NoticeAlertViewDidAppearNotification";
// A button of an alert was tapped.
inline constexpr const char* kNoticeAlertViewDidDismissNotification =
    "NoticeAlertViewDidDismissNotification";
