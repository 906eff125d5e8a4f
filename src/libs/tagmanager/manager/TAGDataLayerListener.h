#pragma once
// TAGDataLayerListener: told of every update pushed to a data layer, as it was pushed (dotted
// keys not expanded), after it has been merged. Called on the pushing thread while the data
// layer's push lock is held; a listener may push again, which only queues the update.

#include "platform/foundation/Value.h"

class TAGDataLayerListener {
 public:
  virtual ~TAGDataLayerListener() = default;
  virtual void changed(const platform::Dictionary& update) = 0;
};
