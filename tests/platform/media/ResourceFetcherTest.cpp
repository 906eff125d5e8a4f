#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/media/ResourceFetcher.h"

namespace platform {
namespace {

TEST(ResourceFetcherTest, ReadsThePathOfFileURLs) {
  struct Case {
    const char* url;
    std::optional<std::string> path;
  } cases[] = {
      {"file:///srv/notes/a%20b.htm", "/srv/notes/a b.htm"},
      {"FILE:///x.htm", "/x.htm"},
      {"file://localhost/x.htm", "/x.htm"},
      {"file:///x.htm?v=1#top", "/x.htm"},
      {"file://otherhost/x.htm", std::nullopt},
      {"file://localhostile/x.htm", std::nullopt},
      {"file:relative.htm", std::nullopt},
      {"file:///bad%zzescape", std::nullopt},
      {"file:///cut%2", std::nullopt},
      {"file:///etc/passwd%00.htm", std::nullopt},
      {"http://127.0.0.1/x.htm", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResourceFetcher::filePath(c.url), c.path) << c.url;
  }
}

}  // namespace
}  // namespace platform
