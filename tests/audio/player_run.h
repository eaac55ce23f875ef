// The program as built, in a pseudo-terminal, playing a module of the
// test's own (copied in as no-sn.xm) from a directory of its own, with the
// environment the test gives; and what its position line showed, when.
#ifndef MCIPLAY_TESTS_AUDIO_PLAYER_RUN_H
#define MCIPLAY_TESTS_AUDIO_PLAYER_RUN_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness/pty_session.h"
#include "tests/support/test_files.h"

namespace audio {

using SteadyTime = std::chrono::steady_clock::time_point;
using Ms = std::chrono::duration<double, std::milli>;

class PlayerRun {
 public:
  PlayerRun();
  ~PlayerRun();  // ends the program if it still runs, removes the directory
  PlayerRun(const PlayerRun&) = delete;
  PlayerRun& operator=(const PlayerRun&) = delete;

  // Starts the program and waits (10 s at most) for its play line; from
  // then on the position line is read every millisecond.
  bool Start(const std::vector<std::uint8_t>& module,
             const std::vector<std::string>& env);
  // When the play line arrived from the program.
  SteadyTime PlayedAt() const { return played_at_; }

  struct Shown {
    SteadyTime at;  // when the line's bytes arrived
    long ms;        // the position on the line then
  };
  std::vector<Shown> Positions() const;
  // How long the terminal's reader was held between `from` and `to`, and
  // so saw the line late.
  Ms ReaderHeld(SteadyTime from, SteadyTime to) const {
    return session_.ReaderHeld(from, to);
  }
  // The position on the line now (-1 when it shows none).
  long ShownNow() const;

  // Types a key and waits for the close line; how long that took.
  std::optional<Ms> StopWithKey();
  // Waits for the close line, the music having ended by itself.
  bool WaitForClose(std::chrono::milliseconds timeout);
  // When the close line arrived from the program.
  SteadyTime ClosedAt() const { return closed_at_; }
  // Waits for the prompt, types a key and waits for the exit; true when
  // the program ended with status 0.
  bool Leave();

  // Every row of the screen; the rows the program writes are its three
  // command lines, the position line, and after it the closing lines.
  std::vector<std::string> Screen() const { return session_.Screen(); }
  pid_t Pid() const { return session_.pid(); }

 private:
  void Watch();

  TempDir dir_;
  pty::Session session_;
  int status_row_ = -1;
  SteadyTime played_at_{};
  SteadyTime closed_at_{};
  std::atomic<bool> watching_{false};
  std::thread watcher_;
  mutable std::mutex mutex_;
  std::vector<Shown> shown_;
};

// The position a status line shows, in ms, or -1.
long ShownPosition(const std::string& row);

}  // namespace audio

#endif  // MCIPLAY_TESTS_AUDIO_PLAYER_RUN_H
