#include "tests/audio/player_run.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

#include "tests/support/expected_lines.h"

namespace audio {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

}  // namespace

long ShownPosition(const std::string& row) {
  unsigned m = 0, s = 0, h = 0;
  if (std::sscanf(row.c_str(), "Playing: %2u:%2u.%2u", &m, &s, &h) != 3)
    return -1;
  return static_cast<long>(m) * 60000 + s * 1000 + h * 10;
}

PlayerRun::PlayerRun() : session_(24, 80) {}

PlayerRun::~PlayerRun() {
  watching_ = false;
  if (watcher_.joinable()) watcher_.join();
  if (session_.Running()) {
    session_.Kill(SIGCONT);
    session_.Kill(SIGKILL);
    session_.WaitExit(milliseconds(5000));
  }
}

bool PlayerRun::Start(const std::vector<std::uint8_t>& module,
                      const std::vector<std::string>& env) {
  if (dir_.path().empty()) return false;
  dir_.Write("no-sn.xm", module);
  if (!session_.Start(pty::Command{{MCIPLAY_EXE}, env, dir_.path()}))
    return false;
  if (!session_.WaitForText(kPlayLine, milliseconds(10000))) return false;
  const int play_row = session_.FindRow(kPlayLine);
  session_.Row(play_row, played_at_);
  status_row_ = play_row + 1;
  watching_ = true;
  watcher_ = std::thread([this] { Watch(); });
  return true;
}

void PlayerRun::Watch() {
  long last = -2;
  while (watching_) {
    SteadyTime at;
    const long ms = ShownPosition(session_.Row(status_row_, at));
    if (ms >= 0 && ms != last) {
      std::lock_guard<std::mutex> lock(mutex_);
      shown_.push_back({at, ms});
    }
    last = ms;
    std::this_thread::sleep_for(milliseconds(1));
  }
}

std::vector<PlayerRun::Shown> PlayerRun::Positions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

long PlayerRun::ShownNow() const {
  return ShownPosition(session_.Row(status_row_));
}

std::optional<Ms> PlayerRun::StopWithKey() {
  const SteadyTime typed = steady_clock::now();
  session_.Send("x");
  if (!WaitForClose(milliseconds(5000))) return std::nullopt;
  return Ms(closed_at_ - typed);
}

bool PlayerRun::WaitForClose(milliseconds timeout) {
  if (!session_.WaitForText(kCloseLine, timeout)) return false;
  session_.Row(session_.FindRow(kCloseLine), closed_at_);
  return true;
}

bool PlayerRun::Leave() {
  watching_ = false;
  if (watcher_.joinable()) watcher_.join();
  if (!session_.WaitForText(kPrompt, milliseconds(5000))) return false;
  session_.Send("y");
  const std::optional<int> status = session_.WaitExit(milliseconds(5000));
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

}  // namespace audio
