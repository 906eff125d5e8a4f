#pragma once
// Notifications of the local media server. The object of each is the connection or endpoint
// that ended.

inline constexpr const char* kHTTPConnectionDidDieNotification = "HTTPConnectionDidDie";
inline constexpr const char* kWebSocketDidDieNotification = "WebSocketDidDie";
