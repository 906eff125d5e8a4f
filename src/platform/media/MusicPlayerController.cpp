#include "platform/media/MusicPlayerController.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Thread.h"

namespace platform {

std::shared_ptr<MusicPlayerController> MusicPlayerController::applicationMusicPlayer() {
  static const auto player = std::make_shared<MusicPlayerController>();
  return player;
}

void MusicPlayerController::setVolume(double volume) {
  assertMainThread("MusicPlayerController::setVolume");
  if (std::isnan(volume)) return;
  volume_ = std::clamp(volume, 0.0, 1.0);
}

}  // namespace platform
