// The device on Linux: the program's folder is where /proc/self/exe leads;
// a name exists when lstat sees an entry, links that lead nowhere included;
// threads start with every signal blocked; a sound server first, then ALSA.
#include "pvl_mci/system.h"

#include <pthread.h>
#include <pulse/util.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace pvl {

std::filesystem::path ProgramDir() {
  std::error_code ec;
  const std::filesystem::path exe =
      std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

bool NameExists(const std::filesystem::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

// A new thread begins with its creator's signal mask: block them all for
// the start, then put the caller's mask back.
void StartThreadsWithoutSignals(const std::function<void()>& start) {
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  start();
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// libpulse asks for SCHED_RR where RLIMIT_RTPRIO or the privilege allows
// it, else RealtimeKit over the system bus, which also limits how long such
// a thread may run without sleeping (RLIMIT_RTTIME, 200 ms): the longest
// the device's threads run at once is one buffer's rendering, a few ms.
// The priority is below the servers' own threads (PulseAudio's default is
// 5), and above every thread that is not real-time.
void MakeRealtime() {
  if (pa_thread_make_realtime(4) < 0) {
    // Not granted: the thread goes on as it was.
  }
}

std::thread StartRenderThread(std::function<void()> body) {
  std::thread thread;
  StartThreadsWithoutSignals([&] {
    thread = std::thread([body = std::move(body)] {
      MakeRealtime();
      body();
    });
  });
  return thread;
}

// Where a sound server runs, ALSA's default device usually leads to it too,
// only less directly.
const std::vector<OutputKind>& SoundOutputs() {
  static const std::vector<OutputKind> kinds = {{"pulse", &OpenPulseOutput},
                                                {"alsa", &OpenAlsaOutput}};
  return kinds;
}

}  // namespace pvl
