#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "model/GlobalModel.h"
#include "platform/foundation/Assert.h"

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

// The screens write the model on the main thread only; a write from any other thread is a race
// with every reader, so debug builds refuse it.
TEST(GlobalModelTest, WritesOffTheMainThreadFailInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in debug builds only";
#endif
  auto model = GlobalModel::sharedModel();
  bool refused = false;
  std::thread writer([&] {
    try {
      model->setUserId(5);
    } catch (const platform::AssertionFailure&) {
      refused = true;
    }
  });
  writer.join();
  EXPECT_TRUE(refused);
  EXPECT_NE(model->userId(), 5);
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
