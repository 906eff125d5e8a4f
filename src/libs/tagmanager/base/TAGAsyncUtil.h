#pragma once
// TAGAsyncUtil: runs work on the default-priority global queue and hands its result to a block
// on the main queue. Work that raises is logged ("Caught exception: ...") and its result block
// is not called at all.

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/Queue.h"
#include "tagmanager/base/TAGLog.h"

class TAGAsyncUtil {
 public:
  TAGAsyncUtil() = delete;

  template <class Result>
  static void invokeAsync(std::function<Result()> work,
                          std::function<void(Result)> resultBlock = nullptr) {
    platform::dispatch::Queue::global()->async(
        [work = std::move(work), resultBlock = std::move(resultBlock)] {
          std::shared_ptr<Result> result;
          try {
            result = std::make_shared<Result>(work());
          } catch (const std::exception& e) {
            TAGLog::error(std::string("Caught exception: ") + e.what());
            return;
          }
          if (!resultBlock) return;
          platform::dispatch::Queue::main()->async(
              [resultBlock, result] { resultBlock(std::move(*result)); });
        });
  }
};
