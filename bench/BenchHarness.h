#pragma once
// The shared harness of the benchmarks: runs our side and the peer in alternating rounds (ours,
// peer, ours, peer ...; the side that opens a round alternates too), checks that both produced
// the same result before any figure is printed, and prints the median and range of each side and
// the ratio of medians (ours / peer).
//
// When CHENGHENG_BENCH_TABLE names a file, each comparison also appends one line to it: the
// benchmark, the figure, the peer, the ratio and its aim. `make bench` prints that file as one
// table at the end. A comparison whose results differ prints no figure, writes "MISMATCH" in the
// table, and makes `exitCode()` fail.
//
// Fairness on a shared machine: the server side of a bench and the load that drives it run on
// separate cores (`cores()`: the first half of the CPUs this process may use for servers, the
// second half for load, unless CHENGHENG_BENCH_SERVER_CPUS / CHENGHENG_BENCH_LOAD_CPUS give
// lists), each figure is printed with the machine's load average when it was taken, and a side
// that reports the CPU time its server used per unit of work gets that compared too.

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// What one run of one side measured, and what it produced: a text both sides must agree on
// (a checksum, a count of rows or lines, "identical bytes"), compared before any figure counts.
struct Outcome {
  double value = 0;
  std::string result;
  // CPU time the server side used per unit of work (microseconds), when the bench measured it.
  double cpuPerUnit = -1;
};

// The machine's load average over 1, 5 and 15 minutes, as /proc/loadavg gives it.
inline std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// CPU time (user and system, every thread) a process has used, with its child processes' (one
// level: nginx's worker under its master), from /proc.
inline double processCpuSeconds(pid_t pid) {
  auto ofOne = [](pid_t p) {
    std::ifstream in("/proc/" + std::to_string(p) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t end = text.rfind(')');  // the command name may hold spaces
    if (end == std::string::npos) return 0.0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::atof(field.c_str());  // utime, stime
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
  };
  double total = ofOne(pid);
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  for (pid_t child; children >> child;) total += ofOne(child);
  return total;
}

// CPU time the calling thread has used.
inline double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// CPU time this whole process has used.
inline double selfCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// CPU lists as taskset takes them ("0-3"): where servers run and where their load runs.
struct Cores {
  std::string server;
  std::string load;
};

inline const Cores& cores() {
  static const Cores chosen = [] {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    std::vector<int> cpus;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
      for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    }
    auto listOf = [&](std::size_t from, std::size_t to) {
      std::string list;
      for (std::size_t i = from; i < to; ++i) {
        if (!list.empty()) list += ',';
        list += std::to_string(cpus[i]);
      }
      return list;
    };
    Cores c;
    if (cpus.size() >= 2) {
      c.server = listOf(0, cpus.size() / 2);
      c.load = listOf(cpus.size() / 2, cpus.size());
    }
    if (const char* env = std::getenv("CHENGHENG_BENCH_SERVER_CPUS"); env && *env) c.server = env;
    if (const char* env = std::getenv("CHENGHENG_BENCH_LOAD_CPUS"); env && *env) c.load = env;
    return c;
  }();
  return chosen;
}

// Pins the calling thread (and the threads and processes it starts afterwards) to `list`
// ("0,1,2" or "0-3"); nothing happens for an empty list.
inline void pinTo(const std::string& list) {
  if (list.empty()) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  std::istringstream parts(list);
  for (std::string part; std::getline(parts, part, ',');) {
    std::size_t dash = part.find('-');
    int first = std::atoi(part.c_str());
    int last = dash == std::string::npos ? first : std::atoi(part.c_str() + dash + 1);
    for (int cpu = first; cpu <= last && cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
  }
  ::sched_setaffinity(0, sizeof set, &set);
}

// A shell command run on the load cores.
inline std::string onLoadCores(const std::string& command) {
  return cores().load.empty() ? command : "taskset -c " + cores().load + " " + command;
}

// Says where servers and load run, once at the start of a bench.
inline void printPlacement() {
  const Cores& c = cores();
  std::printf("servers on CPUs %s, load on CPUs %s; load average %s\n",
              c.server.empty() ? "(any)" : c.server.c_str(),
              c.load.empty() ? "(any)" : c.load.c_str(), loadAverage().c_str());
}

// The aim for the ratio ours / peer, e.g. {"<=", 1.1} or {">=", 0.8}. An empty `op` means none.
struct Aim {
  const char* op = "";
  double ratio = 0;
  bool none() const { return !*op; }
  bool met(double measured) const {
    if (std::string(op) == "<=") return measured <= ratio;
    if (std::string(op) == ">=") return measured >= ratio;
    return true;
  }
  std::string text() const {
    if (none()) return "-";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s %.2fx", op, ratio);
    return buffer;
  }
};

struct Comparison {
  std::string name;  // what is measured, e.g. "serial queue, 1,000,000 async"
  std::string unit;  // of `Outcome::value`, e.g. "ms" or "msg/s"
  std::string ours;  // label of our side
  std::string peer;  // label of the peer
  Aim aim;
  std::string note;  // printed with the figure, e.g. the flush policy of both loggers
  Aim cpuAim{};      // for the ratio of CPU per unit of work, where the outcomes carry it
};

struct Summary {
  double median = 0, low = 0, high = 0;
};

inline Summary summarize(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}

class Harness {
 public:
  // `bench` names the benchmark in the table, e.g. "logging".
  explicit Harness(std::string bench, int rounds = 5) : bench_(std::move(bench)), rounds_(rounds) {
    if (const char* env = std::getenv("CHENGHENG_BENCH_ROUNDS")) {
      int asked = std::atoi(env);
      if (asked >= 1) rounds_ = asked;
    }
  }

  int rounds() const { return rounds_; }

  // Runs both sides `rounds()` times each, alternating, and reports. Returns the ratio of
  // medians, or a negative number when the results differed.
  double compare(const Comparison& c, const std::function<Outcome()>& ours,
                 const std::function<Outcome()>& peer) {
    std::vector<double> oursValues, peerValues, oursCpu, peerCpu;
    std::string expected, mismatch;
    const std::string loadBefore = loadAverage();
    auto record = [&](const char* side, const Outcome& outcome, std::vector<double>& values) {
      values.push_back(outcome.value);
      if (outcome.cpuPerUnit >= 0)
        (&values == &oursValues ? oursCpu : peerCpu).push_back(outcome.cpuPerUnit);
      if (expected.empty() && mismatch.empty()) expected = outcome.result;
      if (outcome.result != expected && mismatch.empty()) {
        mismatch = std::string(side) + " produced \"" + outcome.result + "\", expected \"" +
                   expected + "\"";
      }
    };
    for (int round = 0; round < rounds_; ++round) {
      bool oursFirst = round % 2 == 0;
      for (int turn = 0; turn < 2; ++turn) {
        if ((turn == 0) == oursFirst) {
          record(c.ours.c_str(), ours(), oursValues);
        } else {
          record(c.peer.c_str(), peer(), peerValues);
        }
      }
    }
    std::printf("%s\n  load average %s before, %s after\n", c.name.c_str(), loadBefore.c_str(),
                loadAverage().c_str());
    double ratio = report(c, oursValues, peerValues, expected, mismatch, false);
    if (ratio >= 0 && oursCpu.size() == oursValues.size() && peerCpu.size() == peerValues.size()) {
      Comparison cpu = c;
      cpu.name = c.name + ", CPU per unit";
      cpu.unit = "us";
      cpu.aim = c.cpuAim;
      cpu.note.clear();
      report(cpu, oursCpu, peerCpu, "the same rounds");
    }
    return ratio;
  }

  // Prints figures gathered elsewhere (e.g. a second figure of the rounds `compare` ran) as
  // `compare` prints its own: `mismatch` non-empty means the sides disagreed on `agreed`.
  double report(const Comparison& c, const std::vector<double>& oursValues,
                const std::vector<double>& peerValues, const std::string& agreed,
                const std::string& mismatch = "", bool printName = true) {
    if (printName) std::printf("%s\n", c.name.c_str());
    if (!c.note.empty()) std::printf("  %s\n", c.note.c_str());
    if (!mismatch.empty()) {
      std::printf("  MISMATCH: %s; no figure\n", mismatch.c_str());
      failed_ = true;
      appendToTable(c, "MISMATCH", "-");
      return -1;
    }
    Summary o = summarize(oursValues), p = summarize(peerValues);
    double ratio = p.median != 0 ? o.median / p.median : 0;
    printSide(c.ours, c.unit, o);
    printSide(c.peer, c.unit, p);
    char ratioText[32];
    std::snprintf(ratioText, sizeof ratioText, "%.2fx", ratio);
    std::printf(
        "  ratio of medians (ours / peer) %s, aim %s%s; results agree (%s), %d rounds each\n",
        ratioText, c.aim.text().c_str(),
        c.aim.none() ? "" : (c.aim.met(ratio) ? " met" : " NOT met"), agreed.c_str(),
        static_cast<int>(oursValues.size()));
    appendToTable(c, ratioText, c.aim.none() ? "-" : (c.aim.met(ratio) ? "yes" : "no"));
    std::fflush(stdout);
    return ratio;
  }

  // Records a failure found outside `compare` (a side that could not run at all).
  void fail(const std::string& what) {
    std::printf("  FAILED: %s\n", what.c_str());
    failed_ = true;
    Comparison c;
    c.name = what;
    appendToTable(c, "FAILED", "-");
  }

  int exitCode() const { return failed_ ? 1 : 0; }

 private:
  static void printSide(const std::string& label, const std::string& unit, const Summary& s) {
    std::printf("  %-28s median %12.1f %-6s range %.1f .. %.1f\n", label.c_str(), s.median,
                unit.c_str(), s.low, s.high);
  }

  void appendToTable(const Comparison& c, const std::string& ratio, const std::string& met) {
    const char* path = std::getenv("CHENGHENG_BENCH_TABLE");
    if (!path || !*path) return;
    FILE* table = std::fopen(path, "a");
    if (!table) return;
    std::string figure = c.name + (c.unit.empty() ? "" : " (" + c.unit + ")");
    std::string load = loadAverage();
    load = load.substr(0, load.find(' '));
    std::fprintf(table, "%-11s %-58s %-22s %-9s %-9s %-4s %s\n", bench_.c_str(), figure.c_str(),
                 c.peer.c_str(), ratio.c_str(), c.aim.text().c_str(), met.c_str(), load.c_str());
    std::fclose(table);
  }

  std::string bench_;
  int rounds_;
  bool failed_ = false;
};

}  // namespace bench
