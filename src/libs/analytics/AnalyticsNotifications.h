#pragma once
// Names of the usage analytics' notifications and key-value changes.

// Posted by the batching dispatcher, with itself as object, on the analytics thread just before
// a batch of hits is sent.
inline constexpr const char* kAnalyticsWillDispatchNotification =
    "AnalyticsWillDispatchNotification";

// The key path of `Analytics`'s opt-out flag, and the change key that carries its new value.
inline constexpr const char* kAnalyticsOptOutKeyPath = "optOut";
inline constexpr const char* kKeyValueChangeNewKey = "new";
