// What playing costs with real sound: the program and reference players
// (openmpt123, xmp) each play the same module through the same private
// sound server, in a pseudo-terminal, and the CPU time and wake-ups of each
// process group (the player, the sound server) are taken over the same
// stretch of the music. The players take turns, three rounds of each, and
// each figure is the median of its three: the machine's other work comes
// and goes. Prints a table; nothing here passes or fails.
//
//   sound_bench PROGRAM MODULE
//
// Each row is a player on a server; each process group is a pair of
// columns. To measure another group (a terminal, say), add it to Groups().
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio/sound_server.h"
#include "tests/harness/pty_session.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The stretch measured: from a few seconds in (past the start-up) for 12 s,
// in each of three rounds.
constexpr auto kSettle = seconds(3);
constexpr auto kWindow = seconds(12);
constexpr int kRounds = 3;

struct Usage {
  double cpu_ns = 0;
  double wakeups = 0;  // voluntary context switches: the thread slept, then woke
};

// Every thread of every process in `pids`, as the kernel counts them.
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

struct Player {
  std::string name;
  std::vector<std::string> argv;
  std::vector<std::string> env;
};

// The process groups measured for a player on a server.
struct Group {
  std::string name;
  std::vector<pid_t> pids;
};
std::vector<Group> Groups(const pty::Session& player, const audio::SoundServer& server) {
  return {{"player", {player.pid()}}, {"server", server.Pids()}};
}

struct Row {
  bool ok = false;
  std::vector<std::pair<double, double>> groups;  // ms of CPU, wake-ups, each a second
};

Row Measure(const Player& p, const audio::SoundServer& server, const std::string& dir) {
  Row row;
  pty::Session session(24, 80);
  std::vector<std::string> env = server.ClientEnv();
  env.insert(env.end(), p.env.begin(), p.env.end());
  if (!session.Start(pty::Command{p.argv, env, dir})) return row;
  std::this_thread::sleep_for(kSettle);
  const std::vector<Group> groups = Groups(session, server);
  std::vector<Usage> before;
  for (const Group& g : groups) before.push_back(Take(g.pids));
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kWindow);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  row.ok = session.Running();
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const Usage after = Take(groups[i].pids);
    row.groups.emplace_back((after.cpu_ns - before[i].cpu_ns) / 1e6 / s,
                            (after.wakeups - before[i].wakeups) / s);
  }
  session.Kill(SIGTERM);
  if (!session.WaitExit(milliseconds(3000))) session.Kill(SIGKILL);
  session.WaitExit(milliseconds(3000));
  return row;
}

// Each figure the median of the rounds that played through.
Row Median(const std::vector<Row>& rows) {
  std::vector<Row> ok;
  for (const Row& r : rows)
    if (r.ok) ok.push_back(r);
  if (ok.empty()) return Row{};
  Row m = ok[0];
  for (std::size_t g = 0; g < m.groups.size(); ++g) {
    std::vector<double> cpu, wakeups;
    for (const Row& r : ok) {
      cpu.push_back(r.groups[g].first);
      wakeups.push_back(r.groups[g].second);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wakeups.begin(), wakeups.end());
    m.groups[g] = {cpu[cpu.size() / 2], wakeups[wakeups.size() / 2]};
  }
  return m;
}

std::string Name(audio::ServerKind kind) {
  return kind == audio::ServerKind::kPulseAudio ? "PulseAudio" : "PipeWire";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM MODULE\n", argv[0]);
    return 2;
  }
  // The program finds the module as no-sn.xm in its working directory.
  const std::string dir = std::filesystem::temp_directory_path() / "mciplay-sound-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(argv[2], dir + "/no-sn.xm",
                             std::filesystem::copy_options::overwrite_existing);
  const std::string module = dir + "/no-sn.xm";
  const std::vector<Player> players = {
      {"mciplay", {argv[1]}, {"PVL_MCI_OUTPUT=pulse"}},
      {"openmpt123", {"openmpt123", "--batch", "--driver", "pulseaudio", "--samplerate", "48000", module}, {}},
      {"xmp", {"xmp", "-d", "pulseaudio", "-f", "48000", module}, {}}};

  std::printf("%-11s %-11s %12s %10s %12s %10s %12s\n", "server", "player", "player ms/s",
              "wakeups/s", "server ms/s", "wakeups/s", "total ms/s");
  for (audio::ServerKind kind : {audio::ServerKind::kPulseAudio, audio::ServerKind::kPipeWire}) {
    if (!audio::SoundServer::Installed(kind)) {
      std::printf("%-11s (not installed)\n", Name(kind).c_str());
      continue;
    }
    audio::SoundServer server(kind);
    std::string error;
    if (!server.Start(error)) {
      std::printf("%-11s cannot start: %s\n", Name(kind).c_str(), error.c_str());
      continue;
    }
    std::vector<std::vector<Row>> rounds(players.size());
    for (int round = 0; round < kRounds; ++round)
      for (std::size_t i = 0; i < players.size(); ++i)
        rounds[i].push_back(Measure(players[i], server, dir));
    std::vector<double> totals;
    for (std::size_t i = 0; i < players.size(); ++i) {
      const Row row = Median(rounds[i]);
      std::printf("%-11s %-11s", Name(kind).c_str(), players[i].name.c_str());
      if (!row.ok) {
        std::printf(" (did not play through the measured stretch)\n");
        totals.push_back(-1);
        continue;
      }
      double total = 0;
      for (const auto& [cpu, wakeups] : row.groups) {
        std::printf(" %12.2f %10.0f", cpu, wakeups);
        total += cpu;
      }
      std::printf(" %12.2f\n", total);
      totals.push_back(total);
    }
    if (totals[0] >= 0 && totals[1] >= 0)
      std::printf("%-11s target: mciplay and server %.2f ms/s <= openmpt123 and server %.2f ms/s: %s\n",
                  Name(kind).c_str(), totals[0], totals[1], totals[0] <= totals[1] ? "met" : "missed");
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
