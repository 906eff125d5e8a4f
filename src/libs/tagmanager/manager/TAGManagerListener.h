#pragma once
// TAGManagerListener: the data-layer listener that turns an update carrying "event" into a run
// of every open container's tags with the event's text. Holds its manager weakly (the manager
// owns the data layer that holds the listener).

#include <memory>

#include "tagmanager/manager/TAGDataLayerListener.h"

class TAGManager;

class TAGManagerListener : public TAGDataLayerListener {
 public:
  explicit TAGManagerListener(std::weak_ptr<TAGManager> tagManager)
      : tagManager_(std::move(tagManager)) {}
  void changed(const platform::Dictionary& update) override;

 private:
  const std::weak_ptr<TAGManager> tagManager_;
};
