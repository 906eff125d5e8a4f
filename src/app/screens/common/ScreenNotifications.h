#pragma once
// The notifications the screens and the application delegate send each other (no object, no
// payload).

// The course screens fetch the courses again (posted after a long stay in the background).
inline constexpr const char* kRefreshCwTable = "refreshCwTable";
// The player closed: the screens that show listened minutes recompute them.
inline constexpr const char* kUpdateListenedMins = "UpdateListenedMins";
// The network switched to a mobile connection: the player may ask whether to go on (nothing of
// ours posts it; the player keeps listening for it).
inline constexpr const char* kReachableViaWWAN = "ReachableViaWWAN";
