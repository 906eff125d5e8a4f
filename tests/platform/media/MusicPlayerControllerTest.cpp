#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/media/MusicPlayerController.h"

namespace platform {
namespace {

TEST(MusicPlayerControllerTest, IsOneSharedPlayer) {
  EXPECT_EQ(MusicPlayerController::applicationMusicPlayer(),
            MusicPlayerController::applicationMusicPlayer());
}

TEST(MusicPlayerControllerTest, KeepsTheVolumeBetweenSilentAndFull) {
  auto player = MusicPlayerController::applicationMusicPlayer();
  struct Case {
    double set;
    double expected;
  } cases[] = {
      {0.4, 0.4},
      {0.0, 0.0},
      {1.0, 1.0},
      {-0.2, 0.0},
      {1.7, 1.0},
      {-std::numeric_limits<double>::infinity(), 0.0},
      {std::numeric_limits<double>::infinity(), 1.0},
  };
  for (const auto& c : cases) {
    player->setVolume(c.set);
    EXPECT_DOUBLE_EQ(player->volume(), c.expected) << "set " << c.set;
  }
}

TEST(MusicPlayerControllerTest, IgnoresAVolumeThatIsNotANumber) {
  auto player = MusicPlayerController::applicationMusicPlayer();
  player->setVolume(0.3);
  player->setVolume(std::nan(""));
  EXPECT_DOUBLE_EQ(player->volume(), 0.3);
}

}  // namespace
}  // namespace platform
