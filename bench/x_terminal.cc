#include "bench/x_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "harness/exec.h"

namespace bench {

namespace {

// Starts `argv` in a process group of its own, with `env` added and in
// `dir` (when not empty), its chatter on standard error dropped; -1 when
// fork failed.
pid_t Spawn(const std::vector<std::string>& argv,
            const std::vector<std::string>& env, const std::string& dir) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 2);
  for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
  harness::ExecOrExit(argv);
}

// Ends the process group of `pid`: politely, then for good.
void End(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    const pid_t ended = waitpid(pid, nullptr, WNOHANG);
    if (ended == pid || ended < 0) {  // (< 0: already waited for)
      kill(-pid, SIGKILL);            // what the leader left behind
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (access((dirs.substr(start, end - start) + "/" + name).c_str(), X_OK) ==
        0)
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

XServer::~XServer() { End(pid_); }

bool XServer::Start(std::string& error) {
  int fds[2];
  if (pipe(fds) != 0) {
    error = "pipe failed";
    return false;
  }
  // Xvfb writes the display number it took to the descriptor it is given.
  pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten",
                "tcp", "-screen", "0", "1280x800x24"},
               {}, {});
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c = 0;
  while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
    number += c;
  close(fds[0]);
  if (pid_ < 0 || number.empty()) {
    error = "Xvfb did not start";
    return false;
  }
  display_ = number;
  return true;
}

XTerminal::~XTerminal() { End(pid_); }

bool XTerminal::Start(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env,
                      const std::string& dir) {
  std::vector<std::string> command;
  std::vector<std::string> all = env;
  all.push_back(server_.DisplayEnv());
  if (emulator_ == Emulator::kKitty) {
    command = {"kitty",
               "--config",
               "NONE",
               "-o",
               "initial_window_width=80c",
               "-o",
               "initial_window_height=25c",
               "-o",
               "remember_window_size=no"};
    all.push_back("LIBGL_ALWAYS_SOFTWARE=1");
  } else {
    command = {"xterm", "-geometry", "80x25", "-e"};
  }
  command.insert(command.end(), argv.begin(), argv.end());
  program_ = std::filesystem::path(argv.at(0)).filename();
  pid_ = Spawn(command, all, dir);
  return pid_ > 0;
}

// The emulator's child that runs the program, started last: kitty starts
// a copy of itself first, to start programs from, and may do so from any of
// its threads. Children are told apart by their names (the kernel keeps 15
// characters).
pid_t XTerminal::ProgramPid() const {
  const std::string name = program_.substr(0, 15);
  pid_t last = -1;
  unsigned long long last_start = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(
           "/proc/" + std::to_string(pid_) + "/task", error)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child; children >> child;) {
      std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
      std::string child_name;
      if (!std::getline(comm, child_name) || child_name != name) continue;
      // Field 22 of stat, the start time, after the name in parentheses.
      std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      std::istringstream fields(text.substr(text.rfind(')') + 2));
      std::string field;
      for (int i = 3; i < 22 && fields >> field;) ++i;
      unsigned long long start = 0;
      if (fields >> start && (last < 0 || start >= last_start)) {
        last = child;
        last_start = start;
      }
    }
  }
  return last;
}

bool XTerminal::Running() const {
  return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool Installed(Emulator emulator) {
  return OnPath("Xvfb") &&
         OnPath(emulator == Emulator::kKitty ? "kitty" : "xterm");
}

}  // namespace bench
