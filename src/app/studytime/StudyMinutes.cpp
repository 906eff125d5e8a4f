#include "studytime/StudyMinutes.h"

#include "platform/foundation/Value.h"

int StudyMinutes::forSeconds(const std::string& listenedPos) {
  double seconds = platform::leadingDouble(listenedPos);
  auto whole = static_cast<std::int64_t>(seconds);
  if (whole >= 21 && whole <= 59) return 1;
  return static_cast<int>(static_cast<float>(seconds) / 60.0f);
}
