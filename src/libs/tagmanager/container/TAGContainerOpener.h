#pragma once
// TAGContainerOpener: opens a container through the manager and tells its notifier when the
// container is usable: at the first suitable refresh (open type 0: any non-default content;
// 1: content refreshed within the last 12 hours) or when the time-out (default 2 s) runs out,
// whichever comes first. Openers of an id that is still waiting are told together with the
// first; an id open and already told is handed over at once.
//
// Open on a thread with a run loop (the time-out is a timer on it); notifiers are called
// outside the opener's locks, but inside the container's load callback when a refresh triggers
// them.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Mutex.h"
#include "tagmanager/container/TAGContainerFuture.h"
#include "tagmanager/container/TAGContainerOpenerNotifier.h"

class TAGContainer;
class TAGManager;

class TAGContainerOpener : public std::enable_shared_from_this<TAGContainerOpener> {
 public:
  static constexpr double defaultTimeout = 2.0;

  // A future for the container; none (logged) without an id or a manager.
  static std::shared_ptr<TAGContainerFuture> openContainerWithId(
      const std::optional<std::string>& containerId, const std::shared_ptr<TAGManager>& tagManager,
      std::int32_t openType, std::optional<double> timeout);
  static void openContainerWithId(const std::optional<std::string>& containerId,
                                  const std::shared_ptr<TAGManager>& tagManager,
                                  std::int32_t openType, std::optional<double> timeout,
                                  std::shared_ptr<TAGContainerOpenerNotifier> notifier);

  static std::shared_ptr<TAGContainerOpener> initWithContainerId(
      const std::string& containerId, std::shared_ptr<TAGManager> tagManager,
      std::optional<double> timeout, std::shared_ptr<TAGContainerOpenerNotifier> notifier);

  void openWithRefreshType(std::int32_t openType);
  void callNotifiers(const std::shared_ptr<TAGContainer>& container) EXCLUDES(mutex_);
  void handleTimer(const std::shared_ptr<TAGContainer>& container);

  double timeout() const { return _timeout; }
  bool haveNotified() const { return _haveNotified.load(); }

 private:
  TAGContainerOpener(std::string containerId, std::shared_ptr<TAGManager> tagManager,
                     double timeout, std::shared_ptr<TAGContainerOpenerNotifier> notifier);

  const std::string containerId_;
  // Weak: the manager owns the container whose load callbacks hold this opener.
  const std::weak_ptr<TAGManager> tagManager_;
  const double _timeout;
  std::atomic<bool> _haveNotified{false};
  platform::Mutex mutex_;
  // Held until handed to the waiting list (or told at once).
  std::shared_ptr<TAGContainerOpenerNotifier> notifier_ GUARDED_BY(mutex_);
};
