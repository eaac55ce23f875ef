// Measures the player as a user meets it: the program runs in a
// pseudo-terminal whose screen is read through a terminal emulator, with the
// device's silent output, so the figures do not depend on a sound card.
//
//   player_bench PROGRAM DECODER MODULE...
//
// For each MODULE: the CPU the whole process spends per second of music,
// beside what the decoder alone (DECODER, run on the same file) spends.
// With the first MODULE also: CPU while the prompt waits, key latency,
// start-up time, drift of the position shown against the wall clock, and
// peak memory. Prints a table; nothing here passes or fails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness/pty_session.h"

namespace {

using Clock = std::chrono::steady_clock;
using pty::Millis;

constexpr int kRows = 24;
constexpr int kCols = 80;
const char kPlayLine[] = "play PELVARO_MCI ...  ok.";
const char kCloseLine[] = "close PELVARO_MCI ...  ok.";
const char kPrompt[] = "Press a key to exit";

std::string g_program;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::string Base(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Runs the program in its own directory with `module` copied in as
// no-sn.xm, so the device finds it first.
bool StartPlayer(pty::Session& s, const std::string& work_dir) {
  pty::Command c;
  c.argv = {g_program};
  c.env = {"PVL_MCI_OUTPUT=null"};
  c.dir = work_dir;
  return s.Start(c);
}

std::string MakeWorkDir(const std::string& module) {
  char tmpl[] = "/tmp/mciplay-bench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::ifstream in(module, std::ios::binary);
  std::ofstream out(dir + "/no-sn.xm", std::ios::binary);
  out << in.rdbuf();
  return dir;
}

void RemoveWorkDir(const std::string& dir) {
  std::string file = dir + "/no-sn.xm";
  unlink(file.c_str());
  rmdir(dir.c_str());
}

// CPU time of each thread of a process so far, in nanoseconds, by thread id.
std::vector<std::pair<std::string, double>> ThreadCpuNs(pid_t pid) {
  std::vector<std::pair<std::string, double>> threads;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(
           "/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream stat(task.path() / "schedstat");
    double ns = 0;
    if (stat >> ns) threads.emplace_back(task.path().filename(), ns);
  }
  std::sort(threads.begin(), threads.end());
  return threads;
}

// CPU time of a process so far, in nanoseconds, summed over its threads
// still alive.
double ProcessCpuNs(pid_t pid) {
  double total = 0;
  for (const auto& [thread, ns] : ThreadCpuNs(pid)) total += ns;
  return total;
}

// User + system time of a process so far, its ended threads included, in
// milliseconds (clock-tick resolution).
double ProcessCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  // The fields after the command name, which is in parentheses.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::atof(field.c_str());
    if (i == 15) {
      stime = std::atof(field.c_str());
      break;
    }
  }
  return (utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long PeakRssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct DecoderCost {
  double music_s = 0;
  double cpu_ms_per_s = 0;
};

DecoderCost RunDecoder(const std::string& decoder, const std::string& module) {
  DecoderCost cost;
  std::string command = "'" + decoder + "' '" + module + "' 3";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return cost;
  char name[4096];
  if (std::fscanf(p, "%4095s %lf %lf", name, &cost.music_s,
                  &cost.cpu_ms_per_s) != 3)
    cost = DecoderCost{};
  pclose(p);
  return cost;
}

// Reads "Playing: MM:SS.HH" off a row, in milliseconds, or -1.
long ShownPosition(const std::string& row) {
  unsigned m = 0, s = 0, h = 0;
  if (std::sscanf(row.c_str(), "Playing: %2u:%2u.%2u", &m, &s, &h) != 3)
    return -1;
  return static_cast<long>(m) * 60000 + s * 1000 + h * 10;
}

struct WholeRun {
  bool ok = false;
  double cpu_ms = 0;  // user + system of the whole process, to the end
  double prompt_cpu_pct = 0;
  double drift_ms = 0;   // change of (shown - wall) from start to end
  double spread_ms = 0;  // max - min of (shown - wall)
  long peak_kb = 0;
  std::vector<double> thread_ms_per_s;  // mid-piece, main thread first
};

// Plays `module` to its end, watching the position line; then measures the
// prompt's CPU for `prompt_seconds`.
WholeRun PlayToTheEnd(const std::string& module, double music_s,
                      int prompt_seconds) {
  WholeRun r;
  std::string dir = MakeWorkDir(module);
  pty::Session s(kRows, kCols);
  if (!StartPlayer(s, dir) || !s.WaitForText(kPlayLine, Millis(5000))) {
    RemoveWorkDir(dir);
    return r;
  }
  const auto t0 = Clock::now();
  const int status_row = s.FindRow(kPlayLine) + 1;
  std::vector<std::pair<double, long>> samples;  // wall ms, shown ms
  // Each thread's share, over ten seconds from the fifth on.
  std::vector<std::pair<std::string, double>> threads_before;
  Clock::time_point threads_at;
  const auto limit =
      t0 + std::chrono::milliseconds(static_cast<long>(music_s * 1000) + 10000);
  while (Clock::now() < limit) {
    std::string row = s.Row(status_row);
    if (row.find(kCloseLine) != std::string::npos) break;
    const double wall = Ms(Clock::now() - t0);
    if (music_s > 16 && threads_before.empty() && wall > 5000) {
      threads_before = ThreadCpuNs(s.pid());
      threads_at = Clock::now();
    } else if (!threads_before.empty() && r.thread_ms_per_s.empty() &&
               wall > 15000) {
      auto after = ThreadCpuNs(s.pid());
      const double seconds = Ms(Clock::now() - threads_at) / 1000.0;
      for (std::size_t i = 0; i < after.size() && i < threads_before.size();
           ++i)
        r.thread_ms_per_s.push_back(
            (after[i].second - threads_before[i].second) / 1e6 / seconds);
    }
    long shown = ShownPosition(row);
    if (shown >= 0 && (samples.empty() || samples.back().second != shown))
      samples.emplace_back(Ms(Clock::now() - t0), shown);
    std::this_thread::sleep_for(Millis(2));
  }
  if (!s.WaitForText(kPrompt, Millis(5000))) {
    RemoveWorkDir(dir);
    return r;
  }
  r.cpu_ms = ProcessCpuMs(s.pid());
  std::this_thread::sleep_for(Millis(300));
  const double cpu_before_wait = ProcessCpuNs(s.pid());
  std::this_thread::sleep_for(std::chrono::seconds(prompt_seconds));
  const double cpu_after_wait = ProcessCpuNs(s.pid());
  r.prompt_cpu_pct =
      (cpu_after_wait - cpu_before_wait) / (prompt_seconds * 1e9) * 100.0;
  r.peak_kb = PeakRssKb(s.pid());
  s.Send("x");
  s.WaitExit(Millis(5000));
  // The offset of the position shown against the wall clock, early and
  // late in the piece: its change is the drift.
  if (samples.size() > 20) {
    std::vector<double> offsets;
    for (auto& [wall, shown] : samples) offsets.push_back(shown - wall);
    auto [lo, hi] = std::minmax_element(offsets.begin(), offsets.end());
    r.spread_ms = *hi - *lo;
    const std::size_t k = std::min<std::size_t>(50, offsets.size() / 4);
    // The shown position lags by up to one poll; the least lag of each end
    // is the clock's own offset.
    double early = *std::max_element(offsets.begin(), offsets.begin() + k);
    double late = *std::max_element(offsets.end() - k, offsets.end());
    r.drift_ms = late - early;
  }
  r.ok = true;
  RemoveWorkDir(dir);
  return r;
}

struct KeyRun {
  double startup_ms = -1;
  double latency_ms = -1;
};

// What comes before the key: nothing, or keys that never stop the music.
struct Flood {
  const char* name;
  std::string bytes;
  bool protocol;  // the terminal speaks the keyboard protocol
};

std::string Times(int count, const std::string& text) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text;
  return all;
}

KeyRun StopWithAKey(const std::string& module, const Flood& flood) {
  KeyRun r;
  std::string dir = MakeWorkDir(module);
  pty::Session s(kRows, kCols);
  s.SpeakKeyProtocol(flood.protocol);
  const auto start = Clock::now();
  if (StartPlayer(s, dir) && s.WaitForText(kPlayLine, Millis(5000))) {
    r.startup_ms = Ms(Clock::now() - start);
    if (s.WaitForText("Playing: ", Millis(5000))) {
      s.Send(flood.bytes);
      // Somewhere inside a poll interval.
      std::this_thread::sleep_for(Millis(200 + std::rand() % 10));
      const auto typed = Clock::now();
      s.Send(flood.protocol ? "\x1b[120u\x1b[120;1:3u" : "x");
      if (s.WaitForText(kCloseLine, Millis(5000)))
        r.latency_ms = Ms(Clock::now() - typed);
      s.WaitForText(kPrompt, Millis(5000));
      s.Send(flood.protocol ? "\x1b[121u\x1b[121;1:3u" : "y");
    }
  }
  s.WaitExit(Millis(5000));
  RemoveWorkDir(dir);
  return r;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PROGRAM DECODER MODULE...\n", argv[0]);
    return 2;
  }
  g_program = argv[1];
  const std::string decoder = argv[2];

  std::printf("%-22s %8s %14s %14s %14s    %s\n", "module", "music s",
              "player ms/s", "decoder ms/s", "target ms/s",
              "by thread ms/s (main, audio)");
  WholeRun first;
  for (int i = 3; i < argc; ++i) {
    DecoderCost d = RunDecoder(decoder, argv[i]);
    WholeRun w = PlayToTheEnd(argv[i], d.music_s, i == 3 ? 5 : 1);
    if (i == 3) first = w;
    const double player = w.ok && d.music_s > 0 ? w.cpu_ms / d.music_s : -1;
    std::printf("%-22s %8.1f %14.2f %14.2f %14.2f   ", Base(argv[i]).c_str(),
                d.music_s, player, d.cpu_ms_per_s, 1.5 * d.cpu_ms_per_s + 2.0);
    for (double t : w.thread_ms_per_s) std::printf(" %6.2f", t);
    std::printf("\n");
    std::fflush(stdout);
  }

  const Flood floods[] = {
      {"", "", false},
      {" after 1,000 arrow keys", Times(1000, "\x1b[A"), false},
      {" after Shift held 60 s",
       "\x1b[57441;2u" + Times(1800, "\x1b[57441;2:2u") + "\x1b[57441;1:3u",
       true}};
  std::vector<double> startups;
  std::vector<std::vector<double>> latencies(std::size(floods));
  for (std::size_t f = 0; f < std::size(floods); ++f) {
    for (int run = 0; run < 20; ++run) {
      KeyRun k = StopWithAKey(argv[3], floods[f]);
      if (f == 0 && k.startup_ms >= 0) startups.push_back(k.startup_ms);
      if (k.latency_ms >= 0) latencies[f].push_back(k.latency_ms);
    }
  }

  std::printf("\n%-56s %12s %12s\n", "measure", "measured", "target");
  std::printf("%-56s %11.3f%% %11s\n", "CPU while the prompt waits",
              first.prompt_cpu_pct, "< 0.05%");
  for (std::size_t f = 0; f < std::size(floods); ++f) {
    const std::vector<double>& l = latencies[f];
    const std::string what = std::string("key to close line") + floods[f].name;
    std::printf("%-56s %10.1fms %12s\n", (what + ", median of 20").c_str(),
                Median(l), "< 15 ms");
    std::printf("%-56s %10.1fms %12s\n", (what + ", worst").c_str(),
                l.empty() ? -1.0 : *std::max_element(l.begin(), l.end()), "");
  }
  std::printf("%-56s %10.1fms %12s\n", "start to play line, median of 20",
              Median(startups), "< 100 ms");
  std::printf("%-56s %10.1fms %12s\n", "drift of the position over the piece",
              first.drift_ms, "< 10 ms");
  std::printf("%-56s %10.1fms %12s\n", "spread of position - wall clock",
              first.spread_ms, "");
  std::printf("%-56s %10.1fMB %12s\n", "peak memory (resident)",
              first.peak_kb / 1024.0, "");
  return 0;
}
