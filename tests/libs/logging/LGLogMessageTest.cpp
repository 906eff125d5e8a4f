#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "logging/LGLogMessage.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"

namespace {

TEST(FileNameWithoutExtensionTest, TakesTheLastComponentUpToItsLastDot) {
  struct Case {
    const char* path;
    std::optional<std::string> name;
  } cases[] = {
      {"/x/y/Server.m", "Server"},
      {"/x/y.d/z", "z"},
      {"/x/y/.m", ""},
      {"z", "z"},
      {"a.b.c", "a.b"},
      {"/x/", ""},
      {nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fileNameWithoutExtension(c.path, false), c.name) << (c.path ? c.path : "null");
    EXPECT_EQ(fileNameWithoutExtension(c.path, true), c.name) << (c.path ? c.path : "null");
  }
}

TEST(CopyCStringTest, CopiesWithTheTerminatingZero) {
  EXPECT_EQ(copyCString(nullptr), nullptr);
  char* copy = copyCString("abc");
  EXPECT_STREQ(copy, "abc");
  std::free(copy);
}

TEST(LGLogMessageTest, IsStampedWithClockTimeQueueLabelAndItsFields) {
  platform::ScopedManualClock clock;
  auto queue = platform::dispatch::Queue::serial("stamp.queue");
  std::unique_ptr<LGLogMessage> message;
  queue->sync([&] {
    message = std::make_unique<LGLogMessage>("text", 7, 2, 80, "/src/HTTPConnection.m",
                                             "readRequest", 42, platform::Value("tag"), 0);
  });
  EXPECT_EQ(message->timestamp(), clock->now());
  EXPECT_EQ(message->queueLabel(), "stamp.queue");
  EXPECT_EQ(message->logMsg(), "text");
  EXPECT_EQ(message->logLevel(), 7);
  EXPECT_EQ(message->logFlag(), 2);
  EXPECT_EQ(message->logContext(), 80);
  EXPECT_EQ(message->lineNumber(), 42);
  EXPECT_EQ(message->fileName(), "HTTPConnection");
  EXPECT_EQ(message->methodName(), "readRequest");
  EXPECT_EQ(message->tag(), platform::Value("tag"));
}

TEST(LGLogMessageTest, IsStampedWithTheBuildingThread) {
  std::unique_ptr<LGLogMessage> named, unnamed;
  long namedId = 0;
  std::thread([&] {
    platform::Thread::setCurrentName("stamper");
    namedId = platform::Thread::currentId();
    named = std::make_unique<LGLogMessage>("t", 0, 0, 0, nullptr, nullptr, 0, nullptr, 0);
  }).join();
  std::thread([&] {
    unnamed = std::make_unique<LGLogMessage>("t", 0, 0, 0, nullptr, nullptr, 0, nullptr, 0);
  }).join();
  EXPECT_EQ(named->threadName(), "stamper");
  EXPECT_EQ(named->machThreadID(), static_cast<std::uint32_t>(namedId));
  EXPECT_FALSE(unnamed->threadName());
  EXPECT_FALSE(unnamed->queueLabel());
}

TEST(LGLogMessageTest, PointsAtTheCallersTextUnlessAskedToCopy) {
  static const char kFile[] = "/a/File.m";
  static const char kFunction[] = "run";
  LGLogMessage pointing("t", 0, 0, 0, kFile, kFunction, 0, nullptr, 0);
  EXPECT_EQ(pointing.file(), kFile);
  EXPECT_EQ(pointing.function(), kFunction);

  std::string file = "/a/Copied.m", function = "copied";
  LGLogMessage copying("t", 0, 0, 0, file.c_str(), function.c_str(), 0, nullptr,
                       LGLogMessageCopyFile | LGLogMessageCopyFunction);
  file.assign("overwritten");
  function.assign("overwritten");
  EXPECT_STREQ(copying.file(), "/a/Copied.m");
  EXPECT_STREQ(copying.function(), "copied");
  EXPECT_EQ(copying.methodName(), "copied");
  EXPECT_FALSE(LGLogMessage("t", 0, 0, 0, nullptr, nullptr, 0, nullptr, 0).methodName());
}

TEST(LGLogMessageTest, ThreadIdIsLowerCaseHexadecimal) {
  LGLogMessage message("t", 0, 0, 0, nullptr, nullptr, 0, nullptr, 0);
  char expected[16];
  std::snprintf(expected, sizeof expected, "%x", message.machThreadID());
  EXPECT_EQ(message.threadID(), expected);
  EXPECT_EQ(message.threadID().find_first_of("ABCDEF"), std::string::npos);
}

}  // namespace
