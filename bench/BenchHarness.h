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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// What one run of one side measured, and what it produced: a text both sides must agree on
// (a checksum, a count of rows or lines, "identical bytes"), compared before any figure counts.
struct Outcome {
  double value = 0;
  std::string result;
};

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
    std::vector<double> oursValues, peerValues;
    std::string expected, mismatch;
    auto record = [&](const char* side, const Outcome& outcome, std::vector<double>& values) {
      values.push_back(outcome.value);
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
    return report(c, oursValues, peerValues, expected, mismatch);
  }

  // Prints figures gathered elsewhere (e.g. a second figure of the rounds `compare` ran) as
  // `compare` prints its own: `mismatch` non-empty means the sides disagreed on `agreed`.
  double report(const Comparison& c, const std::vector<double>& oursValues,
                const std::vector<double>& peerValues, const std::string& agreed,
                const std::string& mismatch = "") {
    std::printf("%s\n", c.name.c_str());
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
    std::fprintf(table, "%-11s %-52s %-22s %-9s %-9s %s\n", bench_.c_str(), figure.c_str(),
                 c.peer.c_str(), ratio.c_str(), c.aim.text().c_str(), met.c_str());
    std::fclose(table);
  }

  std::string bench_;
  int rounds_;
  bool failed_ = false;
};

}  // namespace bench
