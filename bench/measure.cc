#include "bench/measure.h"

#include <filesystem>
#include <fstream>

namespace bench {

Usage Take(const std::vector<pid_t>& pids) {
  Usage u;
  for (pid_t pid : pids) {
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid) + "/task", error)) {
      std::ifstream stat(task.path() / "schedstat");
      double ns = 0;
      if (stat >> ns) u.cpu_ns += ns;
      std::ifstream status(task.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
          u.wakeups += std::stod(line.substr(line.find(':') + 1));
      }
    }
  }
  return u;
}

std::vector<Player> Players(const std::string& program,
                            const std::string& module) {
  return {{"mciplay", {program}, {"PVL_MCI_OUTPUT=pulse"}},
          {"openmpt123",
           {"openmpt123", "--batch", "--driver", "pulseaudio", "--samplerate",
            "48000", module},
           {}},
          {"xmp", {"xmp", "-d", "pulseaudio", "-f", "48000", module}, {}}};
}

}  // namespace bench
