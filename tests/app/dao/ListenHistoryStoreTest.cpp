#include <gtest/gtest.h>

#include <set>

#include "dao/ModelDao.h"
#include "support/TempHome.h"

namespace {

ListenHistory play(int userId, int cwid, int reclassId, const std::string& year,
                   const std::string& when, int position) {
  ListenHistory h;
  h.setUserId(userId);
  h.setCwid(cwid);
  h.setReclassId(reclassId);
  h.setYear(year);
  h.setAreCode("110000");
  h.setLastListenTime(when);
  h.setListenedMilliseconds(position);
  return h;
}

TEST(ListenHistoryStoreTest, APlayReplacesTheLecturesEarlierRow) {
  testsupport::TempHome home;
  ModelDao dao;
  EXPECT_TRUE(dao.insertListenHistory(play(7, 11, 1, "2014", "2014-03-01 10:00:00", 100)));
  EXPECT_TRUE(dao.insertListenHistory(play(7, 11, 1, "2014", "2014-03-02 09:00:00", 250)));
  // The same lecture under another class or year keeps a row of its own.
  EXPECT_TRUE(dao.insertListenHistory(play(7, 11, 2, "2014", "2014-03-01 08:00:00", 5)));
  EXPECT_TRUE(dao.insertListenHistory(play(7, 12, 1, "2013", "2014-03-03 08:00:00", 7)));

  auto y2014 = dao.getAllListenHistory(7, "2014");
  ASSERT_EQ(y2014.size(), 2u);
  EXPECT_EQ(y2014[0]->lastListenTime(), "2014-03-02 09:00:00");  // newest first
  EXPECT_EQ(y2014[0]->listenedMilliseconds(), 250);
  EXPECT_EQ(y2014[0]->reclassId(), 1);
  EXPECT_EQ(y2014[0]->areCode(), "110000");
  EXPECT_EQ(y2014[0]->year(), "2014");
  EXPECT_EQ(y2014[0]->userId(), 7);
  EXPECT_EQ(y2014[0]->cwid(), 11);
  EXPECT_TRUE(y2014[0]->Id());
  EXPECT_EQ(y2014[1]->reclassId(), 2);
  EXPECT_EQ(dao.getAllListenHistory(7).size(), 3u);
  EXPECT_TRUE(dao.existsListenHistory(7, 12));
  EXPECT_FALSE(dao.existsListenHistory(8, 12));

  auto lately = dao.getLatelyListenHistory(7, 1);
  EXPECT_EQ(lately->cwid(), 12);  // 2014-03-03 is the class's newest play
  EXPECT_FALSE(lately->reclassId());
  auto none = dao.getLatelyListenHistory(7, 9);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->cwid());
  EXPECT_FALSE(none->lastListenTime());

  EXPECT_EQ(dao.getLastListenTimeByUserId(7, "2014"), "2014-03-02 09:00:00");
  EXPECT_EQ(dao.getLastListenTimeByUserId(7, "2012"), "");  // empty, not absent

  EXPECT_TRUE(dao.deleteAllListenHistory(7, 2014));
  EXPECT_TRUE(dao.getAllListenHistory(7, 2014).empty());
  EXPECT_EQ(dao.getAllListenHistory(7).size(), 1u);
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

TEST(ListenHistoryStoreTest, DeletingAPlayRemovesOnlyTheRowOfThatExactPlace) {
  testsupport::TempHome home;
  ModelDao dao;
  ASSERT_TRUE(dao.insertListenHistory(play(7, 11, 1, "2014", "2014-03-01 10:00:00", 100)));
  ASSERT_TRUE(dao.insertListenHistory(play(7, 11, 2, "2014", "2014-03-01 11:00:00", 200)));
  ASSERT_TRUE(dao.insertListenHistory(play(7, 11, 1, "2013", "2014-03-01 12:00:00", 300)));
  ASSERT_TRUE(dao.insertListenHistory(play(8, 11, 1, "2014", "2014-03-01 13:00:00", 400)));
  ListenHistory otherRegion = play(7, 11, 1, "2014", "", 0);
  otherRegion.setAreCode("310000");

  // Neither the time nor the position of the play matter, only where it happened.
  EXPECT_TRUE(dao.deleteListenHistory(play(7, 11, 1, "2014", "2099-01-01 00:00:00", 1)));
  EXPECT_TRUE(dao.deleteListenHistory(otherRegion));  // nothing there: still no failure
  std::set<std::int64_t> left;
  for (const auto& h : dao.getAllListenHistory(7)) left.insert(*h->listenedMilliseconds());
  EXPECT_EQ(left, (std::set<std::int64_t>{200, 300}));
  EXPECT_EQ(dao.getAllListenHistory(8).size(), 1u);
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

}  // namespace
