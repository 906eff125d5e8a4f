#pragma once
// OrderlyExit: how the chengheng executable ends once it has run, whatever the outcome. It tells
// the application it terminates (the delegate, then the terminate notification, on which the
// analytics store takes in every hit still queued, the logs flush and the caches write out),
// flushes the standard streams and ends the process with the status. It does not unwind:
// threads that run for the life of the process (analytics, dispatch) are left as they are
// rather than torn down under their own feet.
//
// Main thread only.

class OrderlyExit {
 public:
  OrderlyExit() = delete;

  // Everything `leave` does before the process ends.
  static void prepare();
  [[noreturn]] static void leave(int status);
};
