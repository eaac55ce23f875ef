// What the display costs in the terminals people see. The program and the
// reference players (openmpt123, xmp) each play the same module through one
// private PulseAudio server: in tmux (80 x 25, a server of its own), and in
// xterm and kitty (80 x 25 windows on an X server of their own). The CPU of
// each process group (the player, its terminal, the X server, the sound
// server) is taken over the same stretch of the music, in rounds taken in
// turns (bench/measure.h); each figure is the median of a player's rounds.
// Each terminal idle (running sleep) is measured too. Prints the rows
// and the targets: the whole system in tmux no more than openmpt123's; each
// emulator's own CPU no more than 1.5 times openmpt123's; moonshot, both no
// more than xmp's. Nothing here passes or fails.
//
//   terminal_bench MODULE PROGRAM...
//
// Several PROGRAMs (builds of mciplay) are measured side by side, each
// named by its file name: that is how the pass period was chosen.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "bench/x_terminal.h"
#include "harness/sound_server.h"
#include "harness/tmux_pane.h"

namespace {

enum class Terminal { kTmux, kXterm, kKitty };

const char* Name(Terminal t) {
  return t == Terminal::kTmux    ? "tmux"
         : t == Terminal::kXterm ? "xterm"
                                 : "kitty";
}

// Milliseconds of CPU a second of music: the player, its terminal (tmux's
// server, or the emulator), the X server, the sound server.
struct Row {
  bool ok = false;
  double ms[4] = {};
  double Total() const { return ms[0] + ms[1] + ms[2] + ms[3]; }
};

// One round: the player in a fresh terminal, measured over the window.
Row Measure(Terminal terminal, const bench::Player& player,
            const audio::SoundServer& sound, const bench::XServer& x,
            const std::string& dir) {
  static int windows = 0;
  std::vector<std::string> env = sound.ClientEnv();
  env.insert(env.end(), player.env.begin(), player.env.end());
  std::unique_ptr<tmux::Pane> pane;
  std::unique_ptr<bench::XTerminal> window;
  if (terminal == Terminal::kTmux) {
    pane = std::make_unique<tmux::Pane>("mciplay-terminal-bench-" +
                                        std::to_string(getpid()) + "-" +
                                        std::to_string(++windows));
    if (!pane->Start(player.argv, env, dir)) return {};
  } else {
    window = std::make_unique<bench::XTerminal>(terminal == Terminal::kKitty
                                                    ? bench::Emulator::kKitty
                                                    : bench::Emulator::kXterm,
                                                x);
    if (!window->Start(player.argv, env, dir)) return {};
  }
  // An emulator on a busy machine can take seconds to start the program;
  // the music is measured from bench::kSettle after it did.
  pid_t program = pane ? pane->program_pid() : -1;
  for (int i = 0; program <= 0 && i < 300; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    program = window->ProgramPid();
  }
  if (program <= 0) return {};
  std::this_thread::sleep_for(bench::kSettle);
  const std::vector<std::vector<pid_t>> groups = {
      {program},
      {pane ? pane->server_pid() : window->pid()},
      {pane ? -1 : x.pid()},
      sound.Pids()};
  std::vector<bench::Usage> before;
  for (const auto& pids : groups) before.push_back(bench::Take(pids));
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(bench::kWindow);
  const double s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
          .count();
  Row row;
  for (std::size_t i = 0; i < groups.size(); ++i)
    row.ms[i] = (bench::Take(groups[i]).cpu_ns - before[i].cpu_ns) / 1e6 / s;
  // The program still playing, in its terminal, at the end of the window.
  row.ok =
      kill(program, 0) == 0 && (pane ? pane->Running() : window->Running());
  return row;
}

Row Median(std::vector<Row> rows) {
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [](const Row& r) { return !r.ok; }),
             rows.end());
  if (rows.empty()) return {};
  Row m;
  m.ok = true;
  for (int g = 0; g < 4; ++g) {
    std::vector<double> v;
    for (const Row& r : rows) v.push_back(r.ms[g]);
    std::sort(v.begin(), v.end());
    m.ms[g] = v[v.size() / 2];
  }
  return m;
}

const char* Met(bool met) { return met ? "met" : "missed"; }

// Rows: the programs, then openmpt123, xmp and the idle terminal.
void PrintTargets(Terminal terminal, const std::vector<bench::Player>& players,
                  const std::vector<Row>& rows) {
  const std::size_t programs = players.size() - 3;
  const Row& openmpt = rows[programs];
  const Row& xmp = rows[programs + 1];
  if (!openmpt.ok) return;
  for (std::size_t i = 0; i < programs; ++i) {
    if (!rows[i].ok) continue;
    const char* who = players[i].name.c_str();
    if (terminal == Terminal::kTmux) {
      std::printf(
          "%-6s target: %s's player, terminal and sound server %.2f ms/s <= "
          "openmpt123's %.2f: %s; moonshot, xmp's %.2f: %s\n",
          Name(terminal), who, rows[i].Total(), openmpt.Total(),
          Met(rows[i].Total() <= openmpt.Total()), xmp.Total(),
          Met(xmp.ok && rows[i].Total() <= xmp.Total()));
    } else {
      const double own = rows[i].ms[1];
      std::printf(
          "%-6s target: %s's terminal %.2f ms/s <= 1.5 x openmpt123's %.2f = "
          "%.2f: %s; moonshot, xmp's %.2f: %s\n",
          Name(terminal), who, own, openmpt.ms[1], 1.5 * openmpt.ms[1],
          Met(own <= 1.5 * openmpt.ms[1]), xmp.ms[1],
          Met(xmp.ok && own <= xmp.ms[1]));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MODULE PROGRAM...\n", argv[0]);
    return 2;
  }
  // The program finds the module as no-sn.xm in its working directory.
  const std::string dir =
      std::filesystem::temp_directory_path() /
      ("mciplay-terminal-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string module = dir + "/no-sn.xm";
  std::filesystem::copy_file(argv[1], module,
                             std::filesystem::copy_options::overwrite_existing);
  std::vector<bench::Player> players;
  for (int i = 2; i < argc; ++i) {
    bench::Player program = bench::Players(argv[i], module)[0];
    if (argc > 3) program.name = std::filesystem::path(argv[i]).filename();
    players.push_back(program);
  }
  for (bench::Player& reference : bench::Players(argv[2], module))
    if (reference.name != "mciplay") players.push_back(reference);
  players.push_back({"idle", {"sleep", "60"}, {}});

  audio::SoundServer sound(audio::ServerKind::kPulseAudio);
  bench::XServer x;
  std::string error;
  if (!sound.Start(error) || !x.Start(error)) {
    std::fprintf(stderr, "terminal_bench: %s\n", error.c_str());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::printf("%-6s %-14s %14s %14s %14s %14s %12s\n", "term", "player",
              "player ms/s", "terminal ms/s", "X server ms/s", "sound ms/s",
              "total ms/s");
  for (Terminal terminal :
       {Terminal::kTmux, Terminal::kXterm, Terminal::kKitty}) {
    if (terminal != Terminal::kTmux &&
        !bench::Installed(terminal == Terminal::kKitty
                              ? bench::Emulator::kKitty
                              : bench::Emulator::kXterm)) {
      std::printf("%-6s (not installed: scripts/install-deps bench)\n",
                  Name(terminal));
      continue;
    }
    std::vector<std::vector<Row>> rounds(players.size());
    for (int round = 0; round < bench::kRounds; ++round)
      for (std::size_t turn = 0; turn < players.size(); ++turn) {
        const std::size_t i = bench::Turn(round, turn, players.size());
        rounds[i].push_back(Measure(terminal, players[i], sound, x, dir));
      }
    std::vector<Row> rows;
    for (std::size_t i = 0; i < players.size(); ++i) {
      rows.push_back(Median(rounds[i]));
      std::printf("%-6s %-14s", Name(terminal), players[i].name.c_str());
      if (!rows.back().ok) {
        std::printf(" (did not run through the measured stretch)\n");
        continue;
      }
      for (double ms : rows.back().ms) std::printf(" %14.2f", ms);
      std::printf(" %12.2f\n", rows.back().Total());
    }
    PrintTargets(terminal, players, rows);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
