#include "util/ViewUtil.h"

#include "platform/foundation/Mutex.h"
#include "widgets/PangoTextMeasurer.h"

namespace {

// The installed measurer, read by any thread.
struct InstalledMeasurer {
  platform::Mutex mutex;
  std::shared_ptr<TextMeasurer> measurer GUARDED_BY(mutex);
};

InstalledMeasurer& installed() {
  static auto* shared = new InstalledMeasurer();
  return *shared;
}

std::shared_ptr<TextMeasurer> currentMeasurer() {
  auto& shared = installed();
  platform::MutexLock lock(shared.mutex);
  if (!shared.measurer) shared.measurer = std::make_shared<PangoTextMeasurer>();
  return shared.measurer;
}

}  // namespace

float ViewUtil::heightForString(const std::optional<std::string>& text, float fontSize,
                                float width) {
  if (!text) return 0;
  return currentMeasurer()->heightForText(*text, fontSize, width);
}

void ViewUtil::setTextMeasurer(std::shared_ptr<TextMeasurer> measurer) {
  auto& shared = installed();
  platform::MutexLock lock(shared.mutex);
  shared.measurer = std::move(measurer);
}
