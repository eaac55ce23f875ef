#include "tests/audio/sound_server.h"

#include <fcntl.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace audio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSink[] = "mciplay_null";
constexpr char kMonitor[] = "mciplay_null.monitor";

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

// One attempt to reach the server and find the null sink, within `timeout`.
bool SinkAnswers(const std::string& socket, std::chrono::milliseconds timeout) {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "mciplay-test-probe");
  const std::string server = "unix:" + socket;
  bool found = false;
  bool done = false;
  if (pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    const auto give_up = Clock::now() + timeout;
    pa_operation* op = nullptr;
    struct Probe {
      bool* found;
      bool* done;
    } probe{&found, &done};
    while (!done && Clock::now() < give_up) {
      pa_mainloop_iterate(loop, 0, nullptr);
      const pa_context_state_t state = pa_context_get_state(context);
      if (!PA_CONTEXT_IS_GOOD(state)) break;
      if (state == PA_CONTEXT_READY && op == nullptr) {
        op = pa_context_get_sink_info_by_name(
            context, kSink,
            [](pa_context*, const pa_sink_info* info, int eol, void* user) {
              auto* p = static_cast<Probe*>(user);
              if (eol < 0) *p->done = true;
              if (info != nullptr) *p->found = true;
              if (eol > 0) *p->done = true;
            },
            &probe);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (op != nullptr) {
      pa_operation_cancel(op);
      pa_operation_unref(op);
    }
    pa_context_disconnect(context);
  }
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return found;
}

}  // namespace

SoundServer::SoundServer(ServerKind kind) : kind_(kind) {
  char pattern[] = "/tmp/mciplay-sound-XXXXXX";
  if (mkdtemp(pattern) != nullptr) dir_ = pattern;
  for (const char* sub : {"/run", "/home", "/config"}) {
    mkdir((dir_ + sub).c_str(), 0700);
  }
  // Clients started with ClientEnv read this and never spawn a server.
  std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
}

SoundServer::~SoundServer() {
  Stop();
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool SoundServer::Installed(ServerKind) { return OnPath("pulseaudio"); }

const char* SoundServer::MonitorSource() { return kMonitor; }

std::string SoundServer::Socket() const { return dir_ + "/run/native"; }

std::vector<std::string> SoundServer::ClientEnv() const {
  return {"PULSE_SERVER=unix:" + Socket(),
          "PULSE_CLIENTCONFIG=" + dir_ + "/client.conf"};
}

std::string SoundServer::Log() const {
  std::ifstream in(dir_ + "/server.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

pid_t SoundServer::Spawn(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env,
                         const std::string& log) {
  std::vector<std::string> strings = argv;
  std::vector<char*> args;
  for (std::string& a : strings) args.push_back(a.data());
  args.push_back(nullptr);
  // The environment is built before the fork: the child only calls what is
  // safe after a fork in a process with threads.
  std::vector<std::string> env_strings = env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& extra : env)
      replaced = replaced || extra.compare(0, name.size(), name) == 0;
    if (!replaced) env_strings.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const pid_t pid = in >= 0 && out >= 0 ? fork() : -1;
  if (pid != 0) {
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    return pid;
  }
  if (pid != 0) return pid;
  // The child: a session of its own, as a sound server has on a desktop
  // (the scheduler shares the processor between sessions first), out of
  // reach of a terminal's signals meant for the tests; its output in the
  // log.
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  execvpe(args[0], args.data(), envp.data());
  _exit(127);
}

bool SoundServer::Start(std::string& error) {
  if (dir_.empty()) {
    error = "no directory for the server";
    return false;
  }
  if (Running()) return true;
  unlink(Socket().c_str());
  return StartPulseAudio(error) && WaitReady(error);
}

bool SoundServer::StartPulseAudio(std::string& error) {
  const std::string sink_args = std::string("module-null-sink sink_name=") + kSink +
                                " rate=48000 format=float32le channels=2 norewinds=1";
  const std::string native_args =
      "module-native-protocol-unix auth-anonymous=1 socket=" + Socket();
  // No default script, no D-Bus, no real-time scheduling: only the sink
  // and the socket, in the foreground, logging to a file.
  const std::vector<std::string> argv = {
      "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
      "--use-pid-file=no", "--system=no", "--realtime=no",
      "--high-priority=no", "--log-target=stderr", "--log-level=warning",
      "-L", sink_args, "-L", native_args};
  const std::vector<std::string> env = {
      "HOME=" + dir_ + "/home", "XDG_RUNTIME_DIR=" + dir_ + "/run",
      "XDG_CONFIG_HOME=" + dir_ + "/config",
      "DBUS_SESSION_BUS_ADDRESS=disabled:", "DISPLAY="};
  const pid_t pid = Spawn(argv, env, dir_ + "/server.log");
  if (pid < 0) {
    error = "fork failed";
    return false;
  }
  pids_ = {pid};
  return true;
}

bool SoundServer::WaitReady(std::string& error) {
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < give_up) {
    for (pid_t pid : pids_) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pids_.clear();
        Stop();
        error = "the sound server ended at start:\n" + Log();
        return false;
      }
    }
    if (access(Socket().c_str(), F_OK) == 0 &&
        SinkAnswers(Socket(), std::chrono::milliseconds(1000)))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  error = "the sound server did not answer within 10 s:\n" + Log();
  return false;
}

void SoundServer::Stop() {
  for (pid_t pid : pids_) {
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
  }
  for (pid_t pid : pids_) {
    const auto give_up = Clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() > give_up) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  pids_.clear();
}

void SoundServer::Kill() {
  for (pid_t pid : pids_) kill(pid, SIGKILL);
  for (pid_t pid : pids_) {
    int status = 0;
    waitpid(pid, &status, 0);
  }
  pids_.clear();
}

void SoundServer::Pause() {
  for (pid_t pid : pids_) kill(pid, SIGSTOP);
}

void SoundServer::Resume() {
  for (pid_t pid : pids_) kill(pid, SIGCONT);
}

}  // namespace audio
