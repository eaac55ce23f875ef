// A program run as a user would run it in a terminal server: a tmux server
// of its own (its own socket, no configuration file), one detached window
// of 80 x 25 (or the size given). The tests read its screen and history,
// resize it and type into it; the benchmark measures the server's CPU
// beside the program's.
#ifndef MCIPLAY_HARNESS_TMUX_PANE_H
#define MCIPLAY_HARNESS_TMUX_PANE_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace tmux {

class Pane {
 public:
  explicit Pane(std::string socket_name, int width = 80, int height = 25);
  ~Pane();  // the server is killed, and the program with it
  Pane(const Pane&) = delete;
  Pane& operator=(const Pane&) = delete;

  // Starts `argv` (run directly, not through a shell) in `dir`, with `env`
  // ("NAME=value") added. False when tmux could not start it.
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& env, const std::string& dir);

  pid_t server_pid() const { return server_pid_; }
  pid_t program_pid() const { return program_pid_; }
  bool Running() const;

  // The window takes this size, as when its terminal is resized.
  bool Resize(int width, int height);
  // The rows on the screen, and the whole history with the screen last;
  // each without its trailing blanks.
  std::vector<std::string> Screen() const;
  std::vector<std::string> History() const;
  // Types `text` as it is (no key names).
  bool Type(const std::string& text);

 private:
  std::vector<std::string> Capture(bool history) const;

  std::string socket_;
  int width_;
  int height_;
  bool manual_size_ = false;
  pid_t server_pid_ = -1;
  pid_t program_pid_ = -1;
};

}  // namespace tmux

#endif  // MCIPLAY_HARNESS_TMUX_PANE_H
