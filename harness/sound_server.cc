#include "harness/sound_server.h"

#include <fcntl.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// One request to the server at `socket`, within `timeout`: `ask` issues
// it once connected, and its callback sets `done` and `ok`.
struct Request {
  bool done = false;
  bool ok = false;
};
bool Ask(const std::string& socket, std::chrono::milliseconds timeout,
         pa_operation* (*ask)(pa_context*, Request*)) {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context =
      pa_context_new(pa_mainloop_get_api(loop), "mciplay-test-probe");
  const std::string server = "unix:" + socket;
  Request request;
  if (pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                         nullptr) >= 0) {
    const auto give_up = Clock::now() + timeout;
    pa_operation* op = nullptr;
    while (!request.done && Clock::now() < give_up) {
      pa_mainloop_iterate(loop, 0, nullptr);
      const pa_context_state_t state = pa_context_get_state(context);
      if (!PA_CONTEXT_IS_GOOD(state)) break;
      if (state == PA_CONTEXT_READY && op == nullptr)
        op = ask(context, &request);
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
  return request.ok;
}

pa_operation* FindSink(pa_context* context, Request* request) {
  return pa_context_get_sink_info_by_name(
      context, kSink,
      [](pa_context*, const pa_sink_info* info, int eol, void* user) {
        auto* r = static_cast<Request*>(user);
        if (info != nullptr) r->ok = true;
        if (eol != 0) r->done = true;
      },
      request);
}

// PipeWire's PulseAudio service makes the null sink on request.
pa_operation* LoadSink(pa_context* context, Request* request) {
  const std::string args = std::string("sink_name=") + kSink +
                           " rate=48000 format=float32le channels=2";
  return pa_context_load_module(
      context, "module-null-sink", args.c_str(),
      [](pa_context*, std::uint32_t index, void* user) {
        auto* r = static_cast<Request*>(user);
        r->ok = index != PA_INVALID_INDEX;
        r->done = true;
      },
      request);
}

// Whether the Unix socket at `path` takes a connection now. Its file alone
// says too little: a server binds it before it listens, and a busy machine
// can hold the server between the two, when a client is refused.
bool Accepts(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool accepted =
      connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return accepted;
}

// Waits up to 5 s for the socket at `path` to take connections, while the
// process `pid` that is to make it lives.
bool WaitForSocket(const std::string& path, pid_t pid) {
  for (int i = 0; i < 500 && !Accepts(path); ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Accepts(path);
}

// The whole of a file; empty when there is none.
std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

SoundServer::SoundServer(ServerKind kind) : kind_(kind) {
  char pattern[] = "/tmp/mciplay-sound-XXXXXX";
  if (mkdtemp(pattern) != nullptr) dir_ = pattern;
  for (const char* sub :
       {"/run", "/run/pulse", "/home", "/config", "/config/pipewire",
        "/config/pipewire/pipewire.conf.d",
        "/config/pipewire/pipewire-pulse.conf.d"}) {
    mkdir((dir_ + sub).c_str(), 0700);
  }
  // PipeWire's graph at 8192 frames (170 ms) a cycle. With both cores
  // busy, a machine of CI's kind was seen holding even a real-time thread
  // for 100 ms; at 2048 frames the graph then lost whole cycles, for every
  // player tried (PulseAudio's own pacat as much as ours), and the sink's
  // monitor had dropouts in 5 of 5 loaded runs of a 20 s piece. At 8192, 0
  // of 5. A stream still starts at the next cycle, up to 170 ms later.
  std::ofstream(dir_ + "/config/pipewire/pipewire.conf.d/50-quantum.conf")
      << "context.properties = {\n  default.clock.rate = 48000\n"
         "  default.clock.quantum = 8192\n  default.clock.min-quantum = "
         "8192\n  default.clock.max-quantum = 8192\n}\n";
  // PipeWire's PulseAudio service listens on a socket of its own until the
  // null sink is there; WaitReady then moves it to where clients look. A
  // server on a desktop has its sinks when it answers, and a client that
  // came before the sink would wait for the session manager to place its
  // stream (once 1.5 s, on a restart with both cores busy).
  std::ofstream(dir_ + "/config/pipewire/pipewire-pulse.conf.d/50-staged.conf")
      << "pulse.properties = {\n  server.address = [ \"unix:staged\" ]\n}\n";
  // Clients started with ClientEnv read this and never spawn a server.
  std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
}

SoundServer::~SoundServer() {
  Stop();
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool SoundServer::Installed(ServerKind kind) {
  if (kind == ServerKind::kPulseAudio) return OnPath("pulseaudio");
  return OnPath("pipewire") && OnPath("pipewire-pulse") &&
         OnPath("wireplumber") && OnPath("dbus-daemon");
}

const char* SoundServer::MonitorSource() { return kMonitor; }

std::string SoundServer::Socket() const { return dir_ + "/run/pulse/native"; }

std::string SoundServer::StagedSocket() const {
  return dir_ + "/run/pulse/staged";
}

std::vector<std::string> SoundServer::ClientEnv() const {
  return {"PULSE_SERVER=unix:" + Socket(),
          "PULSE_CLIENTCONFIG=" + dir_ + "/client.conf"};
}

std::string SoundServer::Log() const { return ReadAll(dir_ + "/server.log"); }

std::string SoundServer::Graph() {
  if (kind_ != ServerKind::kPipeWire || !Running()) return {};
  const std::string out = dir_ + "/graph.txt";
  std::remove(out.c_str());
  // A server stopped meanwhile would hold the tools: 5 s each at most.
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{"timeout", "5", "wpctl", "status"},
        std::vector<std::string>{"timeout", "5", "pw-link", "--links"}}) {
    if (const pid_t pid = Spawn(argv, ServerEnv(), out); pid > 0)
      waitpid(pid, nullptr, 0);
  }
  return ReadAll(out);
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
  const int out =
      open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
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
  unlink(StagedSocket().c_str());
  const bool started = kind_ == ServerKind::kPulseAudio ? StartPulseAudio(error)
                                                        : StartPipeWire(error);
  return started && WaitReady(error);
}

std::vector<std::string> SoundServer::ServerEnv() const {
  return {"HOME=" + dir_ + "/home", "XDG_RUNTIME_DIR=" + dir_ + "/run",
          "XDG_CONFIG_HOME=" + dir_ + "/config",
          "DBUS_SESSION_BUS_ADDRESS=" + (kind_ == ServerKind::kPipeWire
                                             ? "unix:path=" + dir_ + "/run/bus"
                                             : std::string("disabled:")),
          "DISPLAY="};
}

// A session bus of its own (the session manager needs one), PipeWire, its
// session manager and its PulseAudio service; the null sink comes once
// the service answers (loaded through it, which waits for the session
// manager, as the tests' own streams do).
//
// A server killed leaves its sockets behind, which refuse every client: the
// waits below connect, so they return only once the new ones listen.
bool SoundServer::StartPipeWire(std::string& error) {
  const std::string log = dir_ + "/server.log";
  const std::string bus = dir_ + "/run/bus";
  const std::string core = dir_ + "/run/pipewire-0";
  if (!Add(Spawn({"dbus-daemon", "--session", "--nofork",
                  "--address=unix:path=" + bus},
                 ServerEnv(), log)) ||
      !WaitForSocket(bus, pids_.back())) {
    Stop();
    error = "no session bus:\n" + Log();
    return false;
  }
  if (!Add(Spawn({"pipewire"}, ServerEnv(), log)) ||
      !WaitForSocket(core, pids_.back())) {
    Stop();
    error = "PipeWire did not start:\n" + Log();
    return false;
  }
  if (!Add(Spawn({"wireplumber"}, ServerEnv(), log)) ||
      !Add(Spawn({"pipewire-pulse"}, ServerEnv(), log))) {
    Stop();
    error = "fork failed";
    return false;
  }
  return true;
}

// Keeps a process started, never a failed start's -1 (to kill -1 is to
// signal every process there is).
bool SoundServer::Add(pid_t pid) {
  if (pid > 0) pids_.push_back(pid);
  return pid > 0;
}

bool SoundServer::StartPulseAudio(std::string& error) {
  // Without rewinds, the sink's monitor loses nothing when a stream
  // starts; what the sink has mixed ahead plays out when one ends.
  const std::string sink_args =
      std::string("module-null-sink sink_name=") + kSink +
      " rate=48000 format=float32le channels=2 norewinds=1";
  const std::string native_args =
      "module-native-protocol-unix auth-anonymous=1 socket=" + Socket();
  // No default script, no D-Bus: only the sink and the socket, in the
  // foreground, logging to a file; real-time scheduling for its sink's
  // thread, as a desktop's server has it (through rtkit) where allowed,
  // without the limiter that ends a server using much of a busy machine.
  // Shared memory by POSIX segments, not memfd: with memfd, PulseAudio 16.1
  // here aborted once in some 50 loaded rounds, on an assertion about
  // blocks imported from a client ("n_imported", in memblock.c), after
  // logging that it could not pass a client a block by its memfd.
  const std::vector<std::string> argv = {"pulseaudio",
                                         "-n",
                                         "--daemonize=no",
                                         "--exit-idle-time=-1",
                                         "--use-pid-file=no",
                                         "--system=no",
                                         "--realtime=yes",
                                         "--high-priority=yes",
                                         "--no-cpu-limit=yes",
                                         "--enable-memfd=no",
                                         "--log-target=stderr",
                                         "--log-level=warning",
                                         "-L",
                                         sink_args,
                                         "-L",
                                         native_args};
  if (!Add(Spawn(argv, ServerEnv(), dir_ + "/server.log"))) {
    error = "fork failed";
    return false;
  }
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
    const std::string socket =
        kind_ == ServerKind::kPipeWire ? StagedSocket() : Socket();
    if (access(socket.c_str(), F_OK) == 0) {
      if (Ask(socket, std::chrono::milliseconds(1000), &FindSink)) {
        if (socket == Socket() || rename(socket.c_str(), Socket().c_str()) == 0)
          return true;
        error = std::string("cannot move the socket: ") + std::strerror(errno);
        Stop();
        return false;
      }
      if (kind_ == ServerKind::kPipeWire)
        Ask(socket, std::chrono::milliseconds(1000), &LoadSink);
    }
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
  // A server that ends well takes its socket with it; PipeWire's service
  // would remove only the one it made.
  unlink(Socket().c_str());
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
