#include "util/ViewUtil.h"

#include <mutex>

#include "util/PangoTextMeasurer.h"

namespace {

std::mutex& measurerMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<TextMeasurer>& installedMeasurer() {
  static auto* measurer = new std::shared_ptr<TextMeasurer>();
  return *measurer;
}

std::shared_ptr<TextMeasurer> currentMeasurer() {
  std::lock_guard<std::mutex> lock(measurerMutex());
  if (!installedMeasurer()) installedMeasurer() = std::make_shared<PangoTextMeasurer>();
  return installedMeasurer();
}

}  // namespace

float ViewUtil::heightForString(const std::optional<std::string>& text, float fontSize,
                                float width) {
  if (!text) return 0;
  return currentMeasurer()->heightForText(*text, fontSize, width);
}

void ViewUtil::setTextMeasurer(std::shared_ptr<TextMeasurer> measurer) {
  std::lock_guard<std::mutex> lock(measurerMutex());
  installedMeasurer() = std::move(measurer);
}
