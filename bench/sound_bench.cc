// What playing costs with real sound: the program and reference players
// (openmpt123, xmp) each play the same module through the same private
// sound server, each in a terminal server of its own (tmux, 80 x 25), and
// the CPU time and wake-ups of each process group (the player, its terminal
// server, the sound server) are taken over the same stretch of the music.
// The players take turns (bench::kRounds rounds), and each figure is the
// median of a player's rounds. One more round runs each player under
// strace for what it writes to its terminal.
// Then, for the program alone on the same sound server, in a pseudo-terminal
// read through libvterm: key to close line, start to play line, the CPU of
// its prompt, and the underruns its device counted. Prints tables; nothing
// here passes or fails.
//
//   sound_bench PROGRAM MODULE
//
// Each row is a player on a server; each process group is a pair of
// columns (Groups()).
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

#include "bench/measure.h"
#include "bench/terminal_writes.h"
#include "harness/pty_session.h"
#include "harness/sound_server.h"
#include "harness/tmux_pane.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

using bench::Player;
using bench::Take;
using bench::Usage;

// The process groups measured for a player on a server.
struct Group {
  std::string name;
  std::vector<pid_t> pids;
};
std::vector<Group> Groups(const tmux::Pane& pane,
                          const audio::SoundServer& server) {
  return {{"player", {pane.program_pid()}},
          {"terminal", {pane.server_pid()}},
          {"server", server.Pids()}};
}

struct Row {
  bool ok = false;
  std::vector<std::pair<double, double>>
      groups;                    // ms of CPU, wake-ups, each a second
  bench::TerminalWrites writes;  // from the traced round
};

std::string SocketName(const Player& p) {
  return "mciplay-bench-" + p.name + "-" + std::to_string(getpid());
}

// A round: the player in its terminal server, measured over the window.
// Traced, it runs under strace, and only what it writes counts.
Row Measure(const Player& p, const audio::SoundServer& server,
            const std::string& dir, bool traced) {
  Row row;
  tmux::Pane pane(SocketName(p));
  std::vector<std::string> env = server.ClientEnv();
  env.insert(env.end(), p.env.begin(), p.env.end());
  const std::string trace = dir + "/" + p.name + ".trace";
  if (!pane.Start(traced ? bench::Traced(p.argv, trace) : p.argv, env, dir))
    return row;
  std::this_thread::sleep_for(bench::kSettle);
  const std::vector<Group> groups = Groups(pane, server);
  std::vector<Usage> before;
  for (const Group& g : groups) before.push_back(Take(g.pids));
  const auto t0 = std::chrono::steady_clock::now();
  const double from = bench::EpochSeconds();
  std::this_thread::sleep_for(bench::kWindow);
  const double s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
          .count();
  const double to = bench::EpochSeconds();
  row.ok = pane.Running();
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const Usage after = Take(groups[i].pids);
    row.groups.emplace_back((after.cpu_ns - before[i].cpu_ns) / 1e6 / s,
                            (after.wakeups - before[i].wakeups) / s);
  }
  if (traced) row.writes = bench::CountTerminalWrites(trace, from, to);
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

void PrintRows(const std::string& server, const std::vector<Player>& players,
               const std::vector<Row>& rows) {
  for (std::size_t i = 0; i < players.size(); ++i) {
    const Row& row = rows[i];
    std::printf("%-11s %-11s", server.c_str(), players[i].name.c_str());
    if (!row.ok) {
      std::printf(" (did not play through the measured stretch)\n");
      continue;
    }
    double total = 0;
    for (const auto& [cpu, wakeups] : row.groups) {
      std::printf(" %12.2f %10.0f", cpu, wakeups);
      total += cpu;
    }
    std::printf(" %12.2f %10.1f %10.1f %10.0f\n", total,
                row.writes.redraws_per_s, row.writes.writes_per_s,
                row.writes.bytes_per_s);
  }
}

double Total(const Row& row) {
  double total = 0;
  for (const auto& group : row.groups) total += group.first;
  return total;
}

// Rows: the program, openmpt123, xmp; groups: player, terminal, server.
void PrintTargets(const std::string& server, const std::vector<Row>& rows) {
  if (!rows[0].ok || !rows[1].ok) return;
  const double terminal = rows[0].groups[1].first;
  const double reference = rows[1].groups[1].first;
  std::printf(
      "%-11s target: terminal %.2f ms/s <= 1.5 x openmpt123's %.2f = %.2f: "
      "%s\n",
      server.c_str(), terminal, reference, 1.5 * reference,
      terminal <= 1.5 * reference ? "met" : "missed");
  std::printf(
      "%-11s target: player, terminal and server %.2f ms/s <= openmpt123's "
      "%.2f: %s",
      server.c_str(), Total(rows[0]), Total(rows[1]),
      Total(rows[0]) <= Total(rows[1]) ? "met" : "missed");
  if (rows[2].ok)
    std::printf("; xmp's %.2f: %s", Total(rows[2]),
                Total(rows[0]) <= Total(rows[2]) ? "met" : "missed");
  std::printf("\n");
}

double MedianOf(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The program alone on the sound server, as a user meets it, 20 times:
// from its start to the play line on the screen, from a key to the close
// line, and (the first time) the CPU of its prompt over 5 s.
void ProgramOnItsOwn(const std::string& program,
                     const audio::SoundServer& server, const std::string& dir) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::string> env = server.ClientEnv();
  env.push_back("PVL_MCI_OUTPUT=pulse");
  const std::string stats = dir + "/stats";
  std::filesystem::remove(stats);
  env.push_back("PVL_MCI_STATS=" + stats);
  std::vector<double> starts, keys;
  double prompt_pct = -1;
  for (int run = 0; run < 20; ++run) {
    pty::Session session(24, 80);
    const auto start = Clock::now();
    if (!session.Start(pty::Command{{program}, env, dir}) ||
        !session.WaitForText("play PELVARO_MCI ...  ok.", milliseconds(5000)))
      continue;
    starts.push_back(Ms(Clock::now() - start));
    if (!session.WaitForText("Playing: ", milliseconds(5000))) continue;
    // Somewhere inside a pass.
    std::this_thread::sleep_for(milliseconds(200 + run % 10));
    const auto typed = Clock::now();
    session.Send("x");
    if (session.WaitForText("close PELVARO_MCI ...  ok.", milliseconds(5000)))
      keys.push_back(Ms(Clock::now() - typed));
    if (!session.WaitForText("Press a key to exit", milliseconds(5000)))
      continue;
    if (run == 0) {
      std::this_thread::sleep_for(milliseconds(300));
      const double before = Take({session.pid()}).cpu_ns;
      std::this_thread::sleep_for(seconds(5));
      prompt_pct = (Take({session.pid()}).cpu_ns - before) / 5e9 * 100.0;
    }
    session.Send("y");
    session.WaitExit(milliseconds(5000));
  }
  std::printf(
      "\nmciplay alone on the sound server, in a pseudo-terminal   measured    "
      "   target\n");
  std::printf("%-56s %10.1fms %12s\n", "key to close line, median of 20",
              MedianOf(keys), "< 15 ms");
  std::printf("%-56s %10.1fms %12s\n", "key to close line, worst",
              keys.empty() ? -1.0 : *std::max_element(keys.begin(), keys.end()),
              "");
  std::printf("%-56s %10.1fms %12s\n", "start to play line, median of 20",
              MedianOf(starts), "< 100 ms");
  std::printf("%-56s %11.3f%% %11s\n", "CPU while the prompt waits", prompt_pct,
              "< 0.05%");
  // One line per run from the device as it closed: "underruns N grown M".
  unsigned long long underruns = 0, n = 0;
  std::ifstream in(stats);
  for (std::string word; in >> word >> n;)
    if (word == "underruns") underruns += n;
  std::printf("%-56s %10llu %13s\n", "stream underruns in the 20 runs",
              underruns, "0");
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
  const std::string dir =
      std::filesystem::temp_directory_path() / "mciplay-sound-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(argv[2], dir + "/no-sn.xm",
                             std::filesystem::copy_options::overwrite_existing);
  const std::string module = dir + "/no-sn.xm";
  const std::vector<Player> players = bench::Players(argv[1], module);

  std::printf("%-11s %-11s %12s %10s %12s %10s %12s %10s %12s %10s %10s %10s\n",
              "server", "player", "player ms/s", "wakeups/s", "terminal ms/s",
              "wakeups/s", "server ms/s", "wakeups/s", "total ms/s",
              "redraws/s", "writes/s", "bytes/s");
  for (audio::ServerKind kind :
       {audio::ServerKind::kPulseAudio, audio::ServerKind::kPipeWire}) {
    if (!audio::SoundServer::Installed(kind)) {
      std::printf("%-11s (not installed)\n", Name(kind).c_str());
      continue;
    }
    audio::SoundServer server(kind);
    std::string error;
    if (!server.Start(error)) {
      std::printf("%-11s cannot start: %s\n", Name(kind).c_str(),
                  error.c_str());
      continue;
    }
    std::vector<std::vector<Row>> rounds(players.size());
    for (int round = 0; round < bench::kRounds; ++round)
      for (std::size_t turn = 0; turn < players.size(); ++turn) {
        const std::size_t i = bench::Turn(round, turn, players.size());
        rounds[i].push_back(Measure(players[i], server, dir, false));
      }
    std::vector<Row> rows;
    for (std::size_t i = 0; i < players.size(); ++i) {
      rows.push_back(Median(rounds[i]));
      rows.back().writes = Measure(players[i], server, dir, true).writes;
    }
    PrintRows(Name(kind), players, rows);
    PrintTargets(Name(kind), rows);
    if (kind == audio::ServerKind::kPulseAudio)
      ProgramOnItsOwn(argv[1], server, dir);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
