// A terminal emulator as people see one: an X server of its own (Xvfb, a
// 1280 x 800 screen, no TCP) and on it a window of kitty or xterm, 80 x 25,
// running a program. The benchmark measures the emulator's CPU and the X
// server's beside the program's.
#ifndef MCIPLAY_BENCH_X_TERMINAL_H
#define MCIPLAY_BENCH_X_TERMINAL_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

class XServer {
 public:
  XServer() = default;
  ~XServer();  // ends the server
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Starts Xvfb on a display number it picks itself; false (with the
  // reason in `error`) when it did not come up.
  bool Start(std::string& error);
  pid_t pid() const { return pid_; }
  // "DISPLAY=:N", for its clients.
  std::string DisplayEnv() const { return "DISPLAY=:" + display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

enum class Emulator { kKitty, kXterm };

class XTerminal {
 public:
  XTerminal(Emulator emulator, const XServer& server)
      : emulator_(emulator), server_(server) {}
  ~XTerminal();  // closes the window: ends the emulator and its program
  XTerminal(const XTerminal&) = delete;
  XTerminal& operator=(const XTerminal&) = delete;

  // Runs `argv` in a new window, in `dir`, with `env` added. kitty draws
  // with Mesa's software renderer (there is no GPU under Xvfb).
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& env, const std::string& dir);
  pid_t pid() const { return pid_; }
  // The program the emulator runs (its child), once it has started.
  pid_t ProgramPid() const;
  bool Running() const;

 private:
  Emulator emulator_;
  const XServer& server_;
  pid_t pid_ = -1;
  std::string program_;  // its file name
};

// Whether Xvfb and the emulator are installed.
bool Installed(Emulator emulator);

}  // namespace bench

#endif  // MCIPLAY_BENCH_X_TERMINAL_H
