#pragma once
// DateUtil: the timestamp text stored with study logs and listen history: the current moment,
// from the shared clock, as local time "yyyy-MM-dd HH:mm:ss" (24-hour, zero-padded), so that
// stored times sort as text in time order.

#include <string>

class DateUtil {
 public:
  static std::string getCurrDateString();
};
