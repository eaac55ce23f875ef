// Signs of a sound server on Linux: inotify on the directories where
// libpulse looks for a server's socket (PipeWire's PulseAudio service makes
// its socket by the same rule), and on /dev/snd for a card added. The
// render thread asks at each of its steps; nothing here waits or wakes it.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pvl_mci/system.h"

namespace pvl {
namespace {

// The sockets libpulse tries for the default server: those PULSE_SERVER
// names ("unix:/path" or "/path", each maybe after "{machine-id}"), else
// the user's runtime directory's, then the system-wide one. Empty when a
// server is named that is no local socket.
std::vector<std::filesystem::path> Sockets() {
  std::vector<std::filesystem::path> paths;
  const char* named = std::getenv("PULSE_SERVER");
  if (named != nullptr && *named != '\0') {
    std::istringstream list(named);
    for (std::string entry; list >> entry;) {
      if (entry[0] == '{') {
        const auto close = entry.find('}');
        entry = close == std::string::npos ? "" : entry.substr(close + 1);
      }
      if (entry.rfind("unix:", 0) == 0) entry = entry.substr(5);
      if (entry.empty() || entry[0] != '/') return {};  // TCP: no sign
      paths.emplace_back(entry);
    }
    return paths;
  }
  const char* runtime = std::getenv("PULSE_RUNTIME_PATH");
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0')
    paths.push_back(std::filesystem::path(runtime) / "native");
  else if (xdg != nullptr && *xdg != '\0')
    paths.push_back(std::filesystem::path(xdg) / "pulse" / "native");
  paths.emplace_back("/var/run/pulse/native");
  return paths;
}

class Watch {
 public:
  Watch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), sockets_(Sockets()) {
    Arm();
  }
  ~Watch() {
    if (fd_ >= 0) close(fd_);
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  bool Usable() const { return fd_ >= 0 && !sockets_.empty(); }

  // Reads what happened since the last call; a directory made or replaced
  // meanwhile is watched anew.
  bool Changed() {
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    while (read(fd_, buffer, sizeof buffer) > 0) changed = true;
    if (changed) Arm();
    return changed;
  }

 private:
  // Each socket's directory, or while that is not there, the one it will
  // be made in; and the sound cards' directory. A directory that cannot be
  // watched (none above it either) gives no sign: attempts keep time.
  void Arm() {
    for (const std::filesystem::path& socket : sockets_) {
      const std::filesystem::path dir = socket.parent_path();
      if (inotify_add_watch(fd_, dir.c_str(),
                            IN_CREATE | IN_MOVED_TO | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF) < 0)
        inotify_add_watch(fd_, dir.parent_path().c_str(),
                          IN_CREATE | IN_MOVED_TO);
    }
    if (inotify_add_watch(fd_, "/dev/snd", IN_CREATE) < 0) {
      // No sound cards' directory: ALSA comes through a server, if at all.
    }
  }

  int fd_;
  std::vector<std::filesystem::path> sockets_;
};

}  // namespace

std::function<bool()> WatchForServers() {
  auto watch = std::make_shared<Watch>();
  if (!watch->Usable()) return {};
  return [watch] { return watch->Changed(); };
}

}  // namespace pvl
