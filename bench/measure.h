// What the benchmark tools that play with real sound share: the players
// they compare, and the CPU time and wake-ups the kernel counts for a set
// of processes.
#ifndef MCIPLAY_BENCH_MEASURE_H
#define MCIPLAY_BENCH_MEASURE_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

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
