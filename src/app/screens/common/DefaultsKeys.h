#pragma once
// The user-default keys that more than one screen (or the application delegate) reads or
// writes. The texts are the stored ones, misspellings included: earlier installations wrote them.

#include <string>

namespace defaultskeys {

// Whether this bundle version was ever launched (boolean).
inline std::string everLaunched(const std::string& version) { return "everLaunched_" + version; }
// Whether the first-run guide still has to be finished for this bundle version (boolean).
inline std::string fistLaunched(const std::string& version) { return "fistLaunched_" + version; }

// The mobile-data reminder of a user (text): "YES" means on. Any other value, a missing one
// included, means off; the settings switch writes "ON" when it is turned off.
inline std::string mobileReminder(int userId) { return std::to_string(userId) + "_3g"; }
inline constexpr const char* kReminderOn = "YES";
inline constexpr const char* kReminderOff = "ON";

}  // namespace defaultskeys
