#include "studytime/WaitingSettlement.h"

WaitingSettlement& WaitingSettlement::shared() {
  static WaitingSettlement* instance = new WaitingSettlement();
  return *instance;
}

bool WaitingSettlement::write() {
  if (!batch_) return true;
  if (!batch_->settle()) return false;
  batch_.reset();
  return true;
}
