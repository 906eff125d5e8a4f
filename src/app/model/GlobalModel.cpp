#include "model/GlobalModel.h"

std::shared_ptr<GlobalModel> GlobalModel::sharedModel() {
  // Never destroyed, so code running during process exit can still read it.
  static auto* instance = new std::shared_ptr<GlobalModel>(std::make_shared<GlobalModel>());
  return *instance;
}
