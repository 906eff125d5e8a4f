#pragma once
// TAGAdClickReferrerListener: a data-layer listener that collects advertising click referrers:
// an update whose "tm.url" (a dotted key of the update itself), or else whose "tm" dictionary's
// "url", is a URL with a "referrer" query parameter hands that referrer to
// TAGClickReferrerUtil. Anything else is ignored. Any thread may call.

#include "tagmanager/manager/TAGDataLayerListener.h"

class TAGAdClickReferrerListener : public TAGDataLayerListener {
 public:
  void changed(const platform::Dictionary& update) override;
};
