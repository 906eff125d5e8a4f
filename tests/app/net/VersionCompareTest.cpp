#include <gtest/gtest.h>

#include "net/VersionCompare.h"

namespace {

TEST(VersionCompareTest, OrderTable) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"1.9", "1.10", -1},
      {"1.10", "1.9", 1},
      {"1.2.9", "1.2.10", -1},
      {"1.2.10", "1.2.10", 0},
      {"2.0", "1.99", 1},
      {"1.2", "1.2.1", -1},
      {"1.2.1", "1.2", 1},
      {"1.02", "1.2", 0},
      {"1.0a", "1.0b", -1},
      {"10", "9", 1},
      {"", "1", -1},
      {"", "", 0},
      {"1.123456789012345678901234567890", "1.123456789012345678901234567891", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VersionCompare::compare(c.a, c.b), c.expected) << c.a << " vs " << c.b;
}

}  // namespace
