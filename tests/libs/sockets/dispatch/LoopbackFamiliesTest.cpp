// Listening on "localhost" on a host without IPv6 loopback: the probe program listens and takes
// a connection inside a network namespace of its own whose IPv6 is switched off. Skipped where
// the test may not make such a namespace.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int kCannotMakeNamespace = 77;

// In the forked child, before exec: only system calls from here on.
bool writeText(const char* path, const char* text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = ::write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
  return ::close(fd) == 0 && written;
}

bool bringLoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

[[noreturn]] void runProbeWithoutIPv6() {
  if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
    ::_exit(kCannotMakeNamespace);
  if (!bringLoopbackUp() || !writeText("/proc/sys/net/ipv6/conf/all/disable_ipv6", "1") ||
      !writeText("/proc/sys/net/ipv6/conf/lo/disable_ipv6", "1"))
    ::_exit(kCannotMakeNamespace);
  char* const argv[] = {const_cast<char*>(LOOPBACK_LISTEN_PROBE), nullptr};
  ::execv(LOOPBACK_LISTEN_PROBE, argv);
  ::_exit(kCannotMakeNamespace);
}

}  // namespace

TEST(LoopbackFamiliesTest, LocalhostListensOnIPv4AloneWhereIPv6IsSwitchedOff) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) runProbeWithoutIPv6();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMakeNamespace)
    GTEST_SKIP() << "no network namespace with IPv6 switched off can be made here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: listening failed, 2: no connection arrived";
}
