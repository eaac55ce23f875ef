#include "bench/tmux_pane.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace bench {

namespace {

// Runs `argv` and gives what it printed, or nothing when it failed.
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
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
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

TmuxPane::TmuxPane(std::string socket_name) : socket_(std::move(socket_name)) {}

TmuxPane::~TmuxPane() {
  if (server_pid_ > 0) Run({"tmux", "-L", socket_, "kill-server"}, nullptr);
}

bool TmuxPane::Start(const std::vector<std::string>& argv,
                     const std::vector<std::string>& env,
                     const std::string& dir) {
  std::vector<std::string> command = {
      "tmux", "-L", socket_, "-f", "/dev/null", "new-session", "-d", "-x",
      "80",   "-y", "25",    "-c", dir};
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

bool TmuxPane::Running() const {
  return program_pid_ > 0 && kill(program_pid_, 0) == 0;
}

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
