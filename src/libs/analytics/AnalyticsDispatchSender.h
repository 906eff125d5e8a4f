#pragma once
// AnalyticsDispatchSender: what a tracker hands its hits to (the batching dispatcher).
// `queueModel` takes a tracker model, whose final parameters are built later on the analytics
// thread; `queueDispatch` takes finished parameters. Any thread.

#include <memory>

#include "platform/foundation/Value.h"

class AnalyticsTrackerModel;

class AnalyticsDispatchSender {
 public:
  virtual ~AnalyticsDispatchSender() = default;

  virtual void queueModel(std::shared_ptr<AnalyticsTrackerModel> model) = 0;
  virtual void queueDispatch(const platform::Dictionary& parameters) = 0;
  // The uncaught-exception report's hit. The process is about to end, and what the thrower
  // holds (the hit store, the analytics thread) may never come free: a sender that can, sends
  // it at once from the calling thread. The default hands it over as any other.
  virtual void sendExceptionModel(std::shared_ptr<AnalyticsTrackerModel> model) {
    queueModel(std::move(model));
  }
};
