// What the benchmark tools that play with real sound share: the players
// they compare, how long and how often each is measured, and the CPU time
// and wake-ups the kernel counts for a set of processes.
#ifndef MCIPLAY_BENCH_MEASURE_H
#define MCIPLAY_BENCH_MEASURE_H

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace bench {

// The stretch measured: from kSettle into the music (past the start-up)
// for kWindow, in kRounds rounds taken in turns; each figure is the median
// of its rounds. On a shared virtual machine the CPU time of one and the
// same work moves twofold and more from one minute to the next, so many
// short rounds tell more than a few long ones.
inline constexpr std::chrono::seconds kSettle{3};
inline constexpr std::chrono::seconds kWindow{8};
inline constexpr int kRounds = 5;

// Who plays `turn`th in `round`: each round starts one player further on,
// so that none always plays right after the same one.
constexpr std::size_t Turn(int round, std::size_t turn, std::size_t players) {
  return (turn + static_cast<std::size_t>(round)) % players;
}

struct Usage {
  double cpu_ns = 0;
  double wakeups = 0;  // voluntary context switches: the thread slept, woke
};

// Every thread of every process in `pids`, so far.
Usage Take(const std::vector<pid_t>& pids);

struct Player {
  std::string name;
  std::vector<std::string> argv;
  std::vector<std::string> env;
};

// The program (played through the sound server), then the reference
// players openmpt123 and xmp, each playing `module` at 48 kHz through the
// PulseAudio (or PipeWire's) server their environment names.
std::vector<Player> Players(const std::string& program,
                            const std::string& module);

}  // namespace bench

#endif  // MCIPLAY_BENCH_MEASURE_H
