#include "platform/dispatch/QueueStack.h"

#include <algorithm>
#include <vector>

namespace platform::dispatch {

namespace {
thread_local std::vector<Queue*> tStack;
}

QueueStack::Frame::Frame(Queue* queue) { tStack.push_back(queue); }

QueueStack::Frame::~Frame() { tStack.pop_back(); }

Queue* QueueStack::top() { return tStack.empty() ? nullptr : tStack.back(); }

bool QueueStack::contains(const Queue* queue) {
  return std::find(tStack.begin(), tStack.end(), queue) != tStack.end();
}

}  // namespace platform::dispatch
