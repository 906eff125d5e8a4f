#include "platform/dispatch/Source.h"

#include "platform/dispatch/Reactor.h"
#include "platform/dispatch/SourceState.h"
#include "platform/foundation/Assert.h"

namespace platform::dispatch {

std::shared_ptr<Source> Source::make(Type type, int fd, std::shared_ptr<Queue> queue) {
  assertThat(queue != nullptr, "dispatch: a source needs a target queue");
  return std::make_shared<Source>(Tag{}, type, fd, std::move(queue));
}

Source::Source(Tag, Type type, int fd, std::shared_ptr<Queue> queue)
    : type_(type), fd_(fd), state_(std::make_shared<State>(Tag{}, type, fd, std::move(queue))) {
  if (type != Type::Timer) Reactor::shared().attach(state_);
}

Source::~Source() { state_->abandon(); }

std::shared_ptr<Source> Source::makeRead(int fd, std::shared_ptr<Queue> queue) {
  return make(Type::Read, fd, std::move(queue));
}

std::shared_ptr<Source> Source::makeWrite(int fd, std::shared_ptr<Queue> queue) {
  return make(Type::Write, fd, std::move(queue));
}

std::shared_ptr<Source> Source::makeTimer(std::shared_ptr<Queue> queue) {
  return make(Type::Timer, -1, std::move(queue));
}

void Source::setEventHandler(Handler handler) { state_->setEventHandler(std::move(handler)); }

void Source::setCancelHandler(Handler handler) { state_->setCancelHandler(std::move(handler)); }

void Source::setTimer(Duration start, std::optional<Duration> interval, Duration /*leeway*/) {
  state_->setTimer(start, interval);
}

void Source::clearTimer() { state_->clearTimer(); }

void Source::markDrained() { state_->markDrained(); }

void Source::resume() { state_->resume(shared_from_this()); }

void Source::suspend() { state_->suspend(); }

void Source::cancel() { state_->cancel(); }

bool Source::isCancelled() const { return state_->isCancelled(); }

std::size_t Source::data() const { return state_->data(); }

}  // namespace platform::dispatch
