#include "bench/terminal_writes.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>

namespace bench {

TerminalWrites CountTerminalWrites(const std::string& trace_path, double from_s,
                                   double to_s) {
  // "PID 1700000000.123456 write(1</dev/pts/3>, ""..., 45) = 45", or the
  // same cut in two when another thread's call came in between.
  static const std::regex kWrite(
      R"re(^(\d+) +(\d+\.\d+) (?:write|writev)\(\d+</dev/(?:pts/\d+|tty\d*)>(?:.* = (\d+)$| <unfinished \.\.\.>$))re");
  static const std::regex kResumed(
      R"re(^(\d+) +\d+\.\d+ <\.\.\. (?:write|writev) resumed>.* = (\d+)$)re");
  TerminalWrites counts;
  std::ifstream trace(trace_path);
  std::map<std::string, double> unfinished;  // by thread: when it began
  double last = -1;
  std::smatch m;
  for (std::string line; std::getline(trace, line);) {
    double at = 0;
    std::string bytes;
    if (std::regex_match(line, m, kWrite)) {
      at = std::atof(m[2].str().c_str());
      if (!m[3].matched) {
        unfinished[m[1]] = at;
        continue;
      }
      bytes = m[3];
    } else if (std::regex_match(line, m, kResumed) &&
               unfinished.count(m[1]) != 0) {
      at = unfinished[m[1]];
      unfinished.erase(m[1]);
      bytes = m[2];
    } else {
      continue;
    }
    if (at < from_s || at > to_s) continue;
    counts.writes_per_s += 1;
    counts.bytes_per_s += std::atof(bytes.c_str());
    if (last < 0 || at - last >= 0.002) counts.redraws_per_s += 1;
    last = at;
  }
  const double span = to_s - from_s;
  if (span > 0) {
    counts.writes_per_s /= span;
    counts.bytes_per_s /= span;
    counts.redraws_per_s /= span;
  }
  return counts;
}

std::vector<std::string> Traced(const std::vector<std::string>& argv,
                                const std::string& trace_path) {
  std::vector<std::string> traced = {"strace",
                                     "-f",
                                     "-qq",
                                     "-ttt",
                                     "-y",
                                     "-e",
                                     "trace=write,writev",
                                     "-e",
                                     "signal=none",
                                     "-s",
                                     "0",
                                     "-o",
                                     trace_path,
                                     "--"};
  traced.insert(traced.end(), argv.begin(), argv.end());
  return traced;
}

double EpochSeconds() {
  return std::chrono::duration<double>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace bench
