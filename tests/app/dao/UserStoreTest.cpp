#include <gtest/gtest.h>

#include "dao/RawDb.h"
#include "dao/UserDao.h"
#include "support/TempHome.h"

namespace {

User storedUser(int id, model::Text name, model::Text password, model::Text idCard,
                model::Text realName, model::Text accountantNo) {
  return User(id, idCard, name, realName, password, accountantNo);
}

TEST(UserStoreTest, OfflineLoginComparesTheCredentialsOfTheLoginType) {
  testsupport::TempHome home;
  UserDao dao;
  dao.insert(storedUser(7, "zhang", "pw-digest", "110101", "张三", "KJ001"));

  struct Case {
    int type;
    User typed;
    std::optional<std::string> userId;
  } cases[] = {
      {1, User(std::nullopt, std::nullopt, "zhang", std::nullopt, "pw-digest", std::nullopt), "7"},
      {6, User(std::nullopt, std::nullopt, "zhang", std::nullopt, "pw-digest", std::nullopt), "7"},
      {1, User(std::nullopt, std::nullopt, "zhang", std::nullopt, "wrong", std::nullopt), {}},
      {2, User(std::nullopt, "110101", std::nullopt, std::nullopt, std::nullopt, std::nullopt),
       "7"},
      {2, User(std::nullopt, "999", std::nullopt, std::nullopt, std::nullopt, std::nullopt), {}},
      {3, User(std::nullopt, "110101", std::nullopt, "张三", std::nullopt, std::nullopt), "7"},
      {3, User(std::nullopt, "110101", std::nullopt, "李四", std::nullopt, std::nullopt), {}},
      {3, User(std::nullopt, "110101", std::nullopt, std::nullopt, std::nullopt, std::nullopt), {}},
      {4, User(std::nullopt, "110101", std::nullopt, std::nullopt, std::nullopt, "KJ001"), "7"},
      {4, User(std::nullopt, "110101", std::nullopt, std::nullopt, std::nullopt, "KJ002"), {}},
      {5, User(std::nullopt, "110101", "zhang", std::nullopt, std::nullopt, std::nullopt), "7"},
      {5, User(std::nullopt, "110101", "wang", std::nullopt, std::nullopt, std::nullopt), {}},
      // Types outside 1 to 6 never match, even with every credential right.
      {0, storedUser(7, "zhang", "pw-digest", "110101", "张三", "KJ001"), {}},
      {7, storedUser(7, "zhang", "pw-digest", "110101", "张三", "KJ001"), {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dao.validUser(c.typed, c.type), c.userId) << "login type " << c.type;
  }
  EXPECT_FALSE(dao.db()->hasOpenResultSets());
}

TEST(UserStoreTest, EveryOnlineLoginAddsARowAndTheFirstAnswers) {
  testsupport::TempHome home;
  UserDao dao;
  dao.insert(storedUser(7, "zhang", "old", "110101", "张三", std::nullopt));
  dao.insert(storedUser(8, "zhang", "old", "110101", "张三", std::nullopt));
  dao.insert(storedUser(7, "zhang", "new", "110101", "张三", std::nullopt));

  User typed;
  typed.setIdCard("110101");
  EXPECT_EQ(dao.validUser(typed, 2), "7");
  auto all = dao.queryAll();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1]->Id(), 8);
  EXPECT_EQ(all[2]->password(), "new");
  EXPECT_EQ(all[2]->realName(), "张三");
  EXPECT_FALSE(all[2]->accountantNo());

  EXPECT_TRUE(dao.exists(7));
  EXPECT_TRUE(dao.deleteById(7));
  EXPECT_FALSE(dao.exists(7));
  EXPECT_EQ(dao.validUser(typed, 2), "8");
}

}  // namespace
