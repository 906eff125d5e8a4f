#include <gtest/gtest.h>

#include "download/DownloadUtil.h"

namespace {

TEST(DownloadUtilTest, BuildsTheKeyFromAreaYearAndLecture) {
  EXPECT_EQ(DownloadUtil::getAbsoluteString("110000", "2014", "9001"), "110000_2014_9001");
}

TEST(DownloadUtilTest, ParsesFromTheEnd) {
  struct Case {
    const char* key;
    std::int64_t cwId;
    std::optional<std::string> year;
  };
  const Case cases[] = {
      {"110000_2014_9001", 9001, "2014"},
      {"11_00_00_2013_77", 77, "2013"},  // an area code holding "_"
      {"110000_2014_", 0, "2014"},
      {"110000_2014_12abc", 12, "2014"},
      {"9001", 9001, std::nullopt},
      {"", 0, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DownloadUtil::getAbsoluteToRealCWId(c.key), c.cwId) << c.key;
    EXPECT_EQ(DownloadUtil::getAbsoluteToRealYear(c.key), c.year) << c.key;
  }
}

}  // namespace
