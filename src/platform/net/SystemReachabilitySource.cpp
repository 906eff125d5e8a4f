#include "platform/net/SystemReachabilitySource.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

namespace platform {

std::string ReachabilityTarget::host() const {
  std::string h = name;
  auto scheme = h.find("://");
  if (scheme != std::string::npos) h = h.substr(scheme + 3);
  h = h.substr(0, h.find('/'));
  if (!h.empty() && h.front() == '[') {
    auto close = h.find(']');
    return close == std::string::npos ? h.substr(1) : h.substr(1, close - 1);
  }
  if (std::count(h.begin(), h.end(), ':') == 1) h = h.substr(0, h.find(':'));
  return h;
}

namespace {

// The source a test installed in place of the system's.
struct InstalledSource {
  Mutex mutex;
  std::shared_ptr<ReachabilitySource> source GUARDED_BY(mutex);
};

InstalledSource& installed() {
  static auto* shared = new InstalledSource();
  return *shared;
}

bool isMobileInterface(const std::string& name) {
  for (const char* prefix : {"wwan", "ppp", "rmnet", "wwp", "ccmni"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

bool interfaceIsUp(const std::string& name) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool up = false;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (a->ifa_name && name == a->ifa_name && (a->ifa_flags & IFF_UP) &&
        (a->ifa_flags & IFF_RUNNING))
      up = true;
  }
  freeifaddrs(list);
  return up;
}

// The interfaces that carry a default route (IPv4 and IPv6).
std::vector<std::string> defaultRouteInterfaces() {
  std::vector<std::string> result;
  std::ifstream v4("/proc/net/route");
  std::string line;
  std::getline(v4, line);  // column titles
  while (std::getline(v4, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags;
    fields >> iface >> destination >> gateway >> flags;
    if (destination == "00000000" && (std::stoul(flags, nullptr, 16) & 0x1))
      result.push_back(iface);
  }
  std::ifstream v6("/proc/net/ipv6_route");
  while (std::getline(v6, line)) {
    std::istringstream fields(line);
    std::string destination, prefixLength, source, sourceLength, next, metric, ref, use, flags,
        iface;
    fields >> destination >> prefixLength >> source >> sourceLength >> next >> metric >> ref >>
        use >> flags >> iface;
    if (destination == std::string(32, '0') && prefixLength == "00" && iface != "lo")
      result.push_back(iface);
  }
  return result;
}

std::uint32_t internetFlags() {
  std::uint32_t flags = 0;
  for (const auto& iface : defaultRouteInterfaces()) {
    if (!interfaceIsUp(iface)) continue;
    if (!isMobileInterface(iface)) return kReachabilityFlagsReachable;
    flags = kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN;
  }
  return flags;
}

bool isLoopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  in_addr v4{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

// Some non-loopback interface that is up and has an IPv4 address.
bool hasLocalNetwork() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_LOOPBACK) || !(a->ifa_flags & IFF_UP)) continue;
    if (!isMobileInterface(a->ifa_name)) found = true;
  }
  freeifaddrs(list);
  return found;
}

std::uint32_t flagsFor(const ReachabilityTarget& target) {
  std::string host = target.host();
  if (isLoopback(host)) {
    return kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
           kReachabilityFlagsIsDirect;
  }
  if (target.kind == ReachabilityTarget::Kind::Address && host.rfind("169.254.", 0) == 0) {
    return hasLocalNetwork() ? kReachabilityFlagsReachable | kReachabilityFlagsIsDirect : 0;
  }
  return internetFlags();
}

class SystemSubscription : public ReachabilitySource::Subscription {
 public:
  explicit SystemSubscription(std::shared_ptr<SystemReachabilitySource::Watcher> w)
      : watcher_(std::move(w)) {}
  ~SystemSubscription() override;

 private:
  std::shared_ptr<SystemReachabilitySource::Watcher> watcher_;
};

}  // namespace

struct SystemReachabilitySource::Watcher {
  // Set before the watcher is shared, read-only after.
  ReachabilityTarget target;
  // Held while the callback runs; makes unsubscribing final.
  Mutex mutex;
  bool alive GUARDED_BY(mutex) = true;
  Callback callback GUARDED_BY(mutex);
  std::uint32_t last GUARDED_BY(mutex) = 0;
};

SystemSubscription::~SystemSubscription() {
  MutexLock lock(watcher_->mutex);
  watcher_->alive = false;
  watcher_->callback = nullptr;
}

std::optional<std::uint32_t> SystemReachabilitySource::flags(const ReachabilityTarget& target) {
  if (!accepts(target)) return std::nullopt;
  return flagsFor(target);
}

std::unique_ptr<ReachabilitySource::Subscription> SystemReachabilitySource::watch(
    const ReachabilityTarget& target, Callback callback) {
  if (!accepts(target)) return nullptr;
  auto watcher = std::make_shared<Watcher>();
  watcher->target = target;
  {
    MutexLock watcherLock(watcher->mutex);
    watcher->callback = std::move(callback);
    watcher->last = flagsFor(target);
  }
  {
    MutexLock lock(mutex_);
    std::erase_if(watchers_, [](const auto& weak) { return weak.expired(); });
    watchers_.push_back(watcher);
  }
  startMonitor();
  return std::make_unique<SystemSubscription>(watcher);
}

void SystemReachabilitySource::startMonitor() {
  MutexLock lock(mutex_);
  if (monitoring_) return;
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups =
      RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return;
  }
  monitoring_ = true;
  // The system source lives as long as the process (it is never released once shared).
  std::thread([this, fd] { monitor(fd); }).detach();
}

void SystemReachabilitySource::monitor(int fd) {
  char buffer[8192];
  for (;;) {
    if (recv(fd, buffer, sizeof buffer, 0) < 0 && errno != EINTR && errno != ENOBUFS) break;
    recheck();
  }
  close(fd);
  MutexLock lock(mutex_);
  monitoring_ = false;
}

void SystemReachabilitySource::recheck() {
  std::vector<std::shared_ptr<Watcher>> watchers;
  {
    MutexLock lock(mutex_);
    for (const auto& weak : watchers_) {
      if (auto w = weak.lock()) watchers.push_back(w);
    }
  }
  for (const auto& w : watchers) {
    std::uint32_t now = flagsFor(w->target);
    MutexLock lock(w->mutex);
    if (!w->alive || now == w->last) continue;
    w->last = now;
    if (w->callback) w->callback(now);
  }
}

std::shared_ptr<ReachabilitySource> ReachabilitySource::system() {
  static auto* source =
      new std::shared_ptr<ReachabilitySource>(std::make_shared<SystemReachabilitySource>());
  return *source;
}

std::shared_ptr<ReachabilitySource> ReachabilitySource::shared() {
  auto& shared = installed();
  MutexLock lock(shared.mutex);
  return shared.source ? shared.source : system();
}

void ReachabilitySource::setShared(std::shared_ptr<ReachabilitySource> source) {
  auto& shared = installed();
  MutexLock lock(shared.mutex);
  shared.source = std::move(source);
}

}  // namespace platform
