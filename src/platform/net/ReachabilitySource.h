#pragma once
// ReachabilitySource: where reachability flags come from. A target is a host name or a socket
// address; its flags are the platform's bit set (reachable, connection required, WWAN and so
// on, values below). The process reads the system's source (the Linux interface list and route
// table) unless a test installs another, such as FakeReachabilitySource.
//
// `watch` calls back with a target's new flags whenever they change, on a thread of the
// source's own. Once a Subscription's destruction has returned, its callback is not running and
// is never called again.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

enum ReachabilityFlag : std::uint32_t {
  kReachabilityFlagsTransientConnection = 0x1,
  kReachabilityFlagsReachable = 0x2,
  kReachabilityFlagsConnectionRequired = 0x4,
  kReachabilityFlagsConnectionOnTraffic = 0x8,
  kReachabilityFlagsInterventionRequired = 0x10,
  kReachabilityFlagsConnectionOnDemand = 0x20,
  kReachabilityFlagsIsLocalAddress = 0x10000,
  kReachabilityFlagsIsDirect = 0x20000,
  kReachabilityFlagsIsWWAN = 0x40000,
};

// A host name (without scheme; anything after a "/" or the port is ignored) or a numeric
// address ("0.0.0.0", "169.254.0.0", "::1").
struct ReachabilityTarget {
  enum class Kind { HostName, Address };
  Kind kind = Kind::HostName;
  std::string name;
  // The host part of `name`: up to the first "/", without a ":port" (IPv6 in brackets kept
  // bare).
  std::string host() const;
  bool operator==(const ReachabilityTarget&) const = default;
};

class ReachabilitySource {
 public:
  using Callback = std::function<void(std::uint32_t flags)>;

  class Subscription {
   public:
    virtual ~Subscription() = default;
  };

  virtual ~ReachabilitySource() = default;

  // False when the target cannot be watched at all (an empty host name).
  virtual bool accepts(const ReachabilityTarget& target) const { return !target.host().empty(); }
  // The current flags; absent when they cannot be read.
  virtual std::optional<std::uint32_t> flags(const ReachabilityTarget& target) = 0;
  // Null when watching is refused.
  virtual std::unique_ptr<Subscription> watch(const ReachabilityTarget& target,
                                              Callback callback) = 0;

  static std::shared_ptr<ReachabilitySource> shared();
  // Installs `source` for the process (null returns to the system's).
  static void setShared(std::shared_ptr<ReachabilitySource> source);
  static std::shared_ptr<ReachabilitySource> system();
};

}  // namespace platform
