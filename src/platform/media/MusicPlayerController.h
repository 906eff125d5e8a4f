#pragma once
// MusicPlayerController: the application music player, of which screens use only the volume:
// a level from 0 (silent) to 1 (full), kept within that range whatever is set. One instance
// for the process; main thread only.

#include <memory>

namespace platform {

class MusicPlayerController {
 public:
  static std::shared_ptr<MusicPlayerController> applicationMusicPlayer();

  double volume() const { return volume_; }
  // Values below 0 give 0, above 1 give 1; a value that is not a number changes nothing.
  void setVolume(double volume);

 private:
  double volume_ = 1.0;
};

}  // namespace platform
