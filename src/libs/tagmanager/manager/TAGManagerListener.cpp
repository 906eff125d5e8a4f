#include "tagmanager/manager/TAGManagerListener.h"

#include "tagmanager/manager/TAGManager.h"

void TAGManagerListener::changed(const platform::Dictionary& update) {
  const platform::Value* event = platform::find(update, "event");
  if (!event) return;
  if (auto manager = tagManager_.lock()) manager->refreshTagsInAllContainers(event->description());
}
