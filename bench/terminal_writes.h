// What a program writes to its terminal, from a trace of its writes.
#ifndef MCIPLAY_BENCH_TERMINAL_WRITES_H
#define MCIPLAY_BENCH_TERMINAL_WRITES_H

#include <string>
#include <vector>

namespace bench {

// What a program wrote to its terminal, from a trace of strace -f -ttt -y
// -e trace=write,writev: writes to a terminal device, their bytes, and
// redraws (writes less than 2 ms after the one before are one redraw),
// each a second over the span [from_s, to_s] of the trace's clock (seconds
// since the epoch).
struct TerminalWrites {
  double writes_per_s = 0;
  double bytes_per_s = 0;
  double redraws_per_s = 0;
};
TerminalWrites CountTerminalWrites(const std::string& trace_path, double from_s,
                                   double to_s);

// `argv` run under strace, tracing its writes into `trace_path`.
std::vector<std::string> Traced(const std::vector<std::string>& argv,
                                const std::string& trace_path);

// The wall clock in seconds since the epoch, as strace -ttt prints it.
double EpochSeconds();

}  // namespace bench

#endif  // MCIPLAY_BENCH_TERMINAL_WRITES_H
