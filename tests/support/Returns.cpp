#include "support/Returns.h"

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace testsupport {

bool returnsWithin(double seconds, std::function<void()> call) {
  auto done = std::make_shared<std::promise<void>>();
  auto returned = done->get_future();
  std::thread([done, call = std::move(call)]() mutable {
    call();
    call = nullptr;  // what the call holds is let go before the caller hears it returned
    done->set_value();
  }).detach();
  return returned.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
}

}  // namespace testsupport
