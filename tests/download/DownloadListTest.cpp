#include <gtest/gtest.h>

#include "download/DownloadList.h"
#include "download/LectureURL.h"
#include "download/M3U8.h"

namespace {

using Strings = std::vector<std::string>;

Strings entries(const std::optional<std::string>& text) {
  Strings names;
  auto playlist = M3U8::create(text);
  for (const auto& file : playlist->m3u8Files()) names.push_back(file->fileName());
  return names;
}

TEST(M3U8Test, EntriesTable) {
  struct Case {
    std::optional<std::string> text;
    Strings expected;
  };
  const Case cases[] = {
      {"#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:9.0,\n0.ts\n#EXTINF:9.0,\n1.ts\n#EXT-X-"
       "ENDLIST\n",
       {"0.ts", "1.ts"}},
      {"#EXTM3U\r\n#EXTINF:9.0,\r\n0.ts\r\n#EXTINF:9.0,\r\n1.ts\r\n", {"0.ts", "1.ts"}},
      {"#EXTM3U\n# a comment line\n\n0.ts\n#another comment\n0.ts", {"0.ts", "0.ts"}},
      {"\xEF\xBB\xBF#EXTM3U\nhttp://cdn.example/x/0.ts\n", {"http://cdn.example/x/0.ts"}},
      {"#EXTM3U\n#EXT-X-ENDLIST\n", {}},
      {"", {}},
      {std::nullopt, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(entries(c.text), c.expected) << c.text.value_or("<absent>");
}

TEST(LectureURLTest, ResolveTable) {
  const std::string playlist = "http://media.example/v/2014/9001/index.m3u8";
  struct Case {
    std::string reference;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"0.ts", "http://media.example/v/2014/9001/0.ts"},
      {"low/0.ts", "http://media.example/v/2014/9001/low/0.ts"},
      {"http://cdn.example/a/0.ts", "http://cdn.example/a/0.ts"},
      {"https://cdn.example/a/0.ts", "https://cdn.example/a/0.ts"},
      {"HTTPS://cdn.example/a/0.ts", "HTTPS://cdn.example/a/0.ts"},
      {"//cdn.example/a/0.ts", "http://cdn.example/a/0.ts"},
      {"/static/0.ts", "http://media.example/static/0.ts"},
      {"data:image/png;base64,AAAA", std::nullopt},
      {"javascript:void(0)", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LectureURL::resolve(playlist, c.reference), c.expected) << c.reference;
  EXPECT_EQ(LectureURL::resolve("https://secure.example/p/n.html", "//cdn.example/x.js"),
            "https://cdn.example/x.js");
}

TEST(LectureURLTest, StorableNamesAndFetchableUrls) {
  for (const char* bad : {"", ".", ".."}) EXPECT_FALSE(LectureURL::isStorableFileName(bad)) << bad;
  EXPECT_TRUE(LectureURL::isStorableFileName("0.ts"));
  EXPECT_TRUE(LectureURL::isFetchable("http://h/x"));
  EXPECT_TRUE(LectureURL::isFetchable("https://h:8080/x"));
  EXPECT_FALSE(LectureURL::isFetchable("http:///x"));
  EXPECT_FALSE(LectureURL::isFetchable("ftp://h/x"));
  EXPECT_FALSE(LectureURL::isFetchable("index.m3u8"));
}

TEST(DownloadListTest, PlaylistEntriesFollowThePlaylistUrl) {
  DownloadList list;
  const std::string url = "http://m.example/v/9001/index.m3u8";
  ASSERT_TRUE(list.addPlaylistFiles(
      url,
      "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n0.ts\n#EXTINF:10,\n0.ts\n"
      "#EXTINF:10,\nhttp://cdn.example/x/1.ts\n"));
  EXPECT_EQ(list.arryList(),
            (Strings{url, "http://m.example/v/9001/0.ts", "http://m.example/v/9001/0.ts",
                     "http://cdn.example/x/1.ts"}));
}

TEST(DownloadListTest, PlaylistsWithoutUsableEntriesAreErrors) {
  const std::optional<std::string> bad[] = {std::nullopt,
                                            "",
                                            "#EXTM3U\n#EXT-X-ENDLIST\n",
                                            "#EXTM3U\n0.ts\nsub/..\n",
                                            "#EXTM3U\ndata:text/plain,abc\n",
                                            "#EXTM3U\nhttp://cdn.example/\n"};
  for (const auto& text : bad) {
    DownloadList list;
    EXPECT_FALSE(list.addPlaylistFiles("http://m.example/v/index.m3u8", text))
        << text.value_or("<absent>");
    EXPECT_TRUE(list.arryList().empty());
  }
}

TEST(DownloadListTest, PageResourcesAreListedOnceAndRewrittenToFileNames) {
  DownloadList list;
  const std::string page =
      "<html><head><script src=\"js/a.js\"></script>"
      "<script>var inline = 1;</script>"
      "<link rel=\"stylesheet\" href=\" css/site.css \">"
      "<script src=\"http://cdn.example/lib/jq.js\"></script>"
      "<script src=\"//cdn.example/lib/x.js\"></script>"
      "<link href=\"https://fonts.example/f.css\">"
      "</head><body><img src=\"images/fig.png\"><p>see images/fig.png</p>"
      "<img src=\"images/fig.png\"><img src=\"data:image/png;base64,AAAA\"><img alt=\"none\">"
      "</body></html>";
  std::string rewritten = list.rewritePage("http://m.example/notes/9001/n.html", page);
  EXPECT_EQ(list.arryList(),
            (Strings{"http://m.example/notes/9001/js/a.js", "http://cdn.example/lib/jq.js",
                     "http://cdn.example/lib/x.js", "http://m.example/notes/9001/css/site.css",
                     "https://fonts.example/f.css", "http://m.example/notes/9001/images/fig.png"}));
  EXPECT_EQ(rewritten,
            "<html><head><script src=\"a.js\"></script>"
            "<script>var inline = 1;</script>"
            "<link rel=\"stylesheet\" href=\" site.css \">"
            "<script src=\"jq.js\"></script>"
            "<script src=\"x.js\"></script>"
            "<link href=\"f.css\">"
            "</head><body><img src=\"fig.png\"><p>see fig.png</p>"
            "<img src=\"fig.png\"><img src=\"data:image/png;base64,AAAA\"><img alt=\"none\">"
            "</body></html>");
}

TEST(DownloadListTest, ResourcesAlreadyListedByThePlaylistAreNotRepeated) {
  DownloadList list;
  ASSERT_TRUE(list.addPlaylistFiles("http://m.example/v/index.m3u8", "0.ts\n"));
  list.rewritePage("http://m.example/v/page.html", "<img src=\"0.ts\">");
  EXPECT_EQ(list.arryList(), (Strings{"http://m.example/v/index.m3u8", "http://m.example/v/0.ts"}));
}

TEST(DownloadListTest, APageWithoutResourcesStaysUnchanged) {
  DownloadList list;
  const std::string page = "<html><body><h1>讲义</h1></body></html>";
  EXPECT_EQ(list.rewritePage("http://m.example/p/n.html", page), page);
  EXPECT_TRUE(list.arryList().empty());
}

}  // namespace
