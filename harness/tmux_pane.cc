#include "harness/tmux_pane.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "harness/exec.h"

namespace tmux {

namespace {

// Runs `argv` and gives what it printed; false when it failed.
bool Run(const std::vector<std::string>& argv, std::string* out) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    unsetenv("TMUX");  // a server of its own even when run inside tmux
    dup2(pipe_fds[1], 1);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    harness::ExecOrExit(argv);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

Pane::Pane(std::string socket_name, int width, int height)
    : socket_(std::move(socket_name)), width_(width), height_(height) {}

Pane::~Pane() {
  if (server_pid_ > 0) Run({"tmux", "-L", socket_, "kill-server"}, nullptr);
}

bool Pane::Start(const std::vector<std::string>& argv,
                 const std::vector<std::string>& env, const std::string& dir) {
  std::vector<std::string> command = {"tmux",
                                      "-L",
                                      socket_,
                                      "-f",
                                      "/dev/null",
                                      "new-session",
                                      "-d",
                                      "-x",
                                      std::to_string(width_),
                                      "-y",
                                      std::to_string(height_),
                                      "-c",
                                      dir};
  for (const std::string& e : env) {
    command.push_back("-e");
    command.push_back(e);
  }
  command.insert(command.end(), argv.begin(), argv.end());
  std::string pids;
  if (!Run(command, nullptr) || !Run({"tmux", "-L", socket_, "display-message",
                                      "-p", "#{pid} #{pane_pid}"},
                                     &pids))
    return false;
  std::istringstream in(pids);
  return static_cast<bool>(in >> server_pid_ >> program_pid_);
}

bool Pane::Running() const {
  return program_pid_ > 0 && kill(program_pid_, 0) == 0;
}

// A window without a client keeps the size it is given only when sized by
// hand.
bool Pane::Resize(int width, int height) {
  if (!manual_size_ &&
      !Run({"tmux", "-L", socket_, "set", "-g", "window-size", "manual"},
           nullptr))
    return false;
  manual_size_ = true;
  return Run({"tmux", "-L", socket_, "resize-window", "-x",
              std::to_string(width), "-y", std::to_string(height)},
             nullptr);
}

std::vector<std::string> Pane::Capture(bool history) const {
  std::vector<std::string> command = {"tmux", "-L", socket_, "capture-pane",
                                      "-p"};
  if (history) command.insert(command.end(), {"-S", "-"});
  std::string text;
  if (!Run(command, &text)) return {};
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string row; std::getline(in, row);) {
    row.erase(row.find_last_not_of(' ') + 1);
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> Pane::Screen() const { return Capture(false); }
std::vector<std::string> Pane::History() const { return Capture(true); }

bool Pane::Type(const std::string& text) {
  return Run({"tmux", "-L", socket_, "send-keys", "-l", text}, nullptr);
}

}  // namespace tmux
