#pragma once
// TAGHitSender: how a tag hands a pixel URL on for sending (the dispatcher). The sender may
// drop it (rate limit); the tag does not learn of it.

#include <memory>
#include <string>

#include "tagmanager/base/TAGLogger.h"

class TAGHitSender {
 public:
  virtual ~TAGHitSender() = default;
  virtual void sendHitToUrl(const std::string& url) = 0;
  virtual std::shared_ptr<TAGLogger> logger() const = 0;
  virtual void setLogger(std::shared_ptr<TAGLogger> logger) = 0;
};
