// The fake course server's collection endpoint, which takes the application's analytics hits in
// scripted runs: one hit per GET, one hit per line of a POST batch, each kept as its decoded
// fields; a compressed batch is refused rather than recorded wrongly.

#include <gtest/gtest.h>
#include <httplib.h>

#include "fakeserver/FakeCourseServer.h"

namespace {

TEST(FakeCollectionTest, RecordsEveryHitOfAGetAndOfABatch) {
  fakeserver::FakeCourseServer server;
  ASSERT_TRUE(server.start());
  httplib::Client client(server.host(), server.port());

  auto single = client.Get("/collect?v=1&t=appview&cd=zada_MyCourse&ul=zh%2Dcn");
  ASSERT_TRUE(single);
  EXPECT_EQ(single->status, 200);
  auto batch = client.Post("/collect", "v=1&t=event&ea=a+b\n\nv=1&t=timing&utt=5\n", "text/plain");
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->status, 200);
  httplib::Headers gzipped = {{"Content-Encoding", "gzip"}};
  auto compressed = client.Post("/collect", gzipped, "\x1f\x8b", "text/plain");
  ASSERT_TRUE(compressed);
  EXPECT_EQ(compressed->status, 415);

  auto hits = server.collectedHits();
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].at("t"), "appview");
  EXPECT_EQ(hits[0].at("cd"), "zada_MyCourse");
  EXPECT_EQ(hits[0].at("ul"), "zh-cn");
  EXPECT_EQ(hits[1].at("ea"), "a b");
  EXPECT_EQ(hits[2].at("utt"), "5");
  EXPECT_EQ(server.requestsTo("/collect").size(), 3u);
}

}  // namespace
