#pragma once
// QueueStack: the queues whose work the calling thread is running, innermost last. A worker
// draining a serial queue pushes it; a `sync` pushes its queue for the duration of the call, so
// `Queue::current()` and the queue-specific values follow the innermost one, and a `sync` onto a
// queue already on the stack can be refused instead of deadlocking.

namespace platform::dispatch {

class Queue;

class QueueStack {
 public:
  // Pushes `queue` for the life of the frame.
  class Frame {
   public:
    explicit Frame(Queue* queue);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
  };

  // The innermost queue on this thread, or null.
  static Queue* top();
  static bool contains(const Queue* queue);
};

}  // namespace platform::dispatch
