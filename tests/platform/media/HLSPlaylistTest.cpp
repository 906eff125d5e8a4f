#include <gtest/gtest.h>

#include "platform/media/HLSPlaylist.h"

namespace platform {
namespace {

TEST(HLSPlaylistTest, ReadsSegmentsInOrderAndSumsTheirDurations) {
  auto playlist = HLSPlaylist::parse(
      "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n#EXT-X-MEDIA-SEQUENCE:0\n"
      "#EXTINF:10.0,\nseg0.ts\n#EXTINF:9.5, intro\nhttp://media.invalid/a/seg1.ts\n"
      "#EXTINF:5,\n\n# a comment\nseg2.ts\n#EXT-X-ENDLIST\n");
  ASSERT_TRUE(playlist);
  std::vector<HLSSegment> expected{
      {"seg0.ts", 10.0}, {"http://media.invalid/a/seg1.ts", 9.5}, {"seg2.ts", 5.0}};
  EXPECT_EQ(playlist->segments(), expected);
  EXPECT_DOUBLE_EQ(playlist->duration(), 24.5);
}

TEST(HLSPlaylistTest, AcceptsWindowsLineEndsAByteOrderMarkAndNoFinalNewline) {
  auto playlist = HLSPlaylist::parse("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:2.25,\r\nseg0.ts");
  ASSERT_TRUE(playlist);
  ASSERT_EQ(playlist->segments().size(), 1u);
  EXPECT_EQ(playlist->segments()[0].uri, "seg0.ts");
  EXPECT_DOUBLE_EQ(playlist->duration(), 2.25);
}

TEST(HLSPlaylistTest, RefusesWhatIsNotAUsableMediaPlaylist) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"empty", ""},
      {"html error page", "<html><body>Not Found</body></html>"},
      {"no header", "#EXTINF:10,\nseg0.ts\n"},
      {"header not first", "seg0.ts\n#EXTM3U\n#EXTINF:10,\nseg0.ts\n"},
      {"no segments", "#EXTM3U\n#EXT-X-ENDLIST\n"},
      {"duration missing", "#EXTM3U\n#EXTINF:,\nseg0.ts\n"},
      {"duration not a number", "#EXTM3U\n#EXTINF:ten,\nseg0.ts\n"},
      {"duration with junk", "#EXTM3U\n#EXTINF:10s,\nseg0.ts\n"},
      {"negative duration", "#EXTM3U\n#EXTINF:-1,\nseg0.ts\n"},
      {"infinite duration", "#EXTM3U\n#EXTINF:inf,\nseg0.ts\n"},
      {"not a number", "#EXTM3U\n#EXTINF:nan,\nseg0.ts\n"},
      {"beyond a double", "#EXTM3U\n#EXTINF:1e400,\nseg0.ts\n"},
      {"segment without #EXTINF", "#EXTM3U\n#EXTINF:10,\nseg0.ts\nseg1.ts\n"},
      {"master playlist", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800000\nlow/index.m3u8\n"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(HLSPlaylist::parse(c.text, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(HLSPlaylistTest, ClampsEachDurationAndTheTotalToAWeek) {
  constexpr double kWeek = HLSPlaylist::kMaxDuration;
  struct Case {
    const char* name;
    const char* text;
    std::vector<double> segments;
    double total;
  } cases[] = {
      {"one huge segment", "#EXTM3U\n#EXTINF:1e10,\n0.ts\n", {kWeek}, kWeek},
      {"a sum beyond a double",
       "#EXTM3U\n#EXTINF:1e308,\n0.ts\n#EXTINF:1e308,\n1.ts\n",
       {kWeek, kWeek},
       kWeek},
      {"a sum beyond a week",
       "#EXTM3U\n#EXTINF:400000,\n0.ts\n#EXTINF:400000,\n1.ts\n",
       {400000, 400000},
       kWeek},
      {"just a week", "#EXTM3U\n#EXTINF:604800,\n0.ts\n", {kWeek}, kWeek},
  };
  for (const auto& c : cases) {
    auto playlist = HLSPlaylist::parse(c.text);
    ASSERT_TRUE(playlist) << c.name;
    std::vector<double> durations;
    for (const auto& segment : playlist->segments()) durations.push_back(segment.duration);
    EXPECT_EQ(durations, c.segments) << c.name;
    EXPECT_EQ(playlist->duration(), c.total) << c.name;
  }
}

TEST(HLSPlaylistTest, ResolvesSegmentURIsAgainstThePlaylistURL) {
  struct Case {
    const char* base;
    const char* reference;
    const char* expected;
  } cases[] = {
      {"http://127.0.0.1:12345/1_2014_7/index.m3u8", "seg0.ts",
       "http://127.0.0.1:12345/1_2014_7/seg0.ts"},
      {"http://h/a/b/index.m3u8?token=1#x", "seg0.ts", "http://h/a/b/seg0.ts"},
      {"http://h/a/b/index.m3u8", "/root/seg0.ts", "http://h/root/seg0.ts"},
      {"http://h/a/index.m3u8", "https://other.invalid/x.ts", "https://other.invalid/x.ts"},
      {"https://h/a/index.m3u8", "//cdn/x.ts", "https://cdn/x.ts"},
      {"http://h", "seg0.ts", "http://h/seg0.ts"},
      {"http://h?q=1", "seg0.ts", "http://h/seg0.ts"},
      {"http://h/a/index.m3u8", "sub/seg0.ts?v=2", "http://h/a/sub/seg0.ts?v=2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HLSPlaylist::resolve(c.base, c.reference), c.expected)
        << c.base << " + " << c.reference;
  }
}

}  // namespace
}  // namespace platform
