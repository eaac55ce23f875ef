// A program run as a user would run it in a terminal server: a tmux server
// of its own (its own socket, no configuration file), one detached window
// of 80 x 25. The benchmark measures the server's CPU beside the program's,
// and what the program writes to its terminal.
#ifndef MCIPLAY_BENCH_TMUX_PANE_H
#define MCIPLAY_BENCH_TMUX_PANE_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

class TmuxPane {
 public:
  explicit TmuxPane(std::string socket_name);
  ~TmuxPane();  // the server is killed, and the program with it
  TmuxPane(const TmuxPane&) = delete;
  TmuxPane& operator=(const TmuxPane&) = delete;

  // Starts `argv` (run directly, not through a shell) in `dir`, with `env`
  // ("NAME=value") added. False when tmux could not start it.
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& env, const std::string& dir);

  pid_t server_pid() const { return server_pid_; }
  pid_t program_pid() const { return program_pid_; }
  bool Running() const;

 private:
  std::string socket_;
  pid_t server_pid_ = -1;
  pid_t program_pid_ = -1;
};

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

#endif  // MCIPLAY_BENCH_TMUX_PANE_H
