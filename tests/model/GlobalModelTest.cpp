#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "model/GlobalModel.h"

namespace {

TEST(GlobalModelTest, FirstCallsFromSeveralThreadsShareOneInstance) {
  std::vector<std::shared_ptr<GlobalModel>> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = GlobalModel::sharedModel(); });
  }
  for (auto& t : threads) t.join();
  for (const auto& model : seen) EXPECT_EQ(model, GlobalModel::sharedModel());
}

TEST(GlobalModelTest, LogoutClearsOnlyTheLoginFields) {
  auto model = GlobalModel::sharedModel();
  model->setUserId(42);
  model->setAreaCode("110000");
  model->setAreaName("北京");
  model->setLoginState(GlobalModel::kLoginOffline);
  model->setCourses(model::List<Course>{std::make_shared<Course>()});
  model->setCurrentYearIndex(2);
  model->setDownYearIndex(1);
  model->setIsRefresh(true);
  model->setDownloadRefresh(true);
  model->setGlobalNetWorkStatus("ReachableViaWWAN");

  // What the settings screen does on logout.
  model->setUserId(0);
  model->setCourses(std::nullopt);
  model->setLoginState(GlobalModel::kLoggedOut);
  model->setAreaName(std::nullopt);
  model->setAreaCode(std::nullopt);

  EXPECT_EQ(model->userId(), 0);
  EXPECT_EQ(model->loginState(), 3);
  EXPECT_FALSE(model->courses());
  EXPECT_FALSE(model->areaCode());
  EXPECT_EQ(model->currentYearIndex(), 2);
  EXPECT_EQ(model->downYearIndex(), 1);
  EXPECT_TRUE(model->isRefresh());
  EXPECT_TRUE(model->downloadRefresh());
  EXPECT_EQ(model->GlobalNetWorkStatus(), "ReachableViaWWAN");
}

TEST(GlobalModelTest, HoldingTheTabBarControllerDoesNotKeepItAlive) {
  auto model = GlobalModel::sharedModel();
  // The controller class belongs to the widget layer; an owner with an aliased pointer stands
  // in for it, since only the lifetime is observed here.
  auto owner = std::make_shared<int>(1);
  std::shared_ptr<MirelTabBarController> controller(
      owner, reinterpret_cast<MirelTabBarController*>(owner.get()));
  model->setTabBarViewController(controller);
  EXPECT_EQ(model->tabBarViewController(), controller);
  controller.reset();
  owner.reset();
  EXPECT_EQ(model->tabBarViewController(), nullptr);
}

}  // namespace
