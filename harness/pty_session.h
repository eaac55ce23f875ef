// Runs a program in a pseudo-terminal whose screen is kept by a terminal
// emulator (libvterm), so that tests can read what a user would see, type
// keys, answer or ignore the terminal's queries, and compare the terminal's
// settings before and after the program.
//
// A background thread reads everything the program writes, feeds it to the
// emulator and writes the emulator's replies (cursor position reports and the
// like) back, so the program is answered even while the test is busy.
#ifndef MCIPLAY_HARNESS_PTY_SESSION_H
#define MCIPLAY_HARNESS_PTY_SESSION_H

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace pty {

using Millis = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct Command {
  std::vector<std::string> argv;  // argv[0] is looked up in PATH
  std::vector<std::string> env;   // "NAME=value", added to the current ones
  std::string dir;                // working directory; empty: the current one
};

struct Position {
  int row = 0;  // 0-based, as the emulator counts
  int col = 0;
  bool operator==(const Position&) const = default;
};

class Session {
 public:
  Session(int rows, int cols);
  ~Session();  // kills a program still running, with SIGKILL
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // When false, the terminal stays silent on cursor position requests
  // (ESC [ 6 n) and other queries: a dead or dumb terminal. Default true.
  void AnswerQueries(bool answer);

  // When true (before Start), the terminal speaks the progressive keyboard
  // protocol: it answers ESC [ ? u with the flags in force and keeps the
  // stack of flags the program pushes (ESC [ > flags u), pops (ESC [ < n u)
  // and changes (ESC [ = flags ; mode u). libvterm does not know the
  // protocol, so these sequences never reach it. When false (the default)
  // they go to libvterm, which ignores them, as an older terminal does.
  // Key reports are up to the test to Send.
  void SpeakKeyProtocol(bool speak);
  // The flags in force (the top of the stack; 0 when it is empty), and how
  // many pushes and pops the program has sent.
  int KeyFlags() const;
  // Key reports the terminal sends just before it sees the program's next
  // pop, as a real one may have sent them while the pop was on its way.
  void SendBeforeNextPop(std::string bytes);
  int KeyFlagPushes() const;
  int KeyFlagPops() const;

  // Starts the program with the pty as its controlling terminal and its
  // standard input, output and error. False if the pty or fork failed; a
  // failed exec shows as exit status 127.
  bool Start(const Command& command);

  // The pty's settings as the program found them (taken just before start)
  // and as they are now (from the pty's own slave side, kept open).
  const termios& SettingsBefore() const { return before_; }
  termios SettingsNow() const;

  // Bytes as typed on the keyboard, e.g. "x", "\r", "\x1b[A" (Up), "\x03".
  void Send(std::string_view bytes);

  // Changes the terminal's size; the kernel signals SIGWINCH to the program.
  void Resize(int rows, int cols);

  int rows() const;
  int cols() const;

  // The text of a row, trailing blanks removed, and the whole screen.
  std::string Row(int row) const;
  std::vector<std::string> Screen() const;
  Position Cursor() const;
  // Everything the program has written so far, as raw bytes.
  std::string Transcript() const;

  // The rows any write touched since the last ResetDamage (a scroll counts as
  // touching every row), as a count of cell writes per row.
  std::vector<int> Damage() const;
  void ResetDamage();

  // The text of `row` and when the reader read the bytes that last wrote
  // to it (the epoch before any did): the time the program's write
  // arrived, unless the reader itself was held then.
  std::string Row(int row, Clock::time_point& written_at) const;
  // How long, between `from` and `to`, the reader did not come back to the
  // pty for longer than a wait and a read take (the machine held it).
  // Whatever the program wrote meanwhile arrived at the hold's end.
  Clock::duration ReaderHeld(Clock::time_point from,
                             Clock::time_point to) const;

  // Waits until `ready` holds, or the time is up; gives its last result.
  // `ready` is called without the screen locked: it may use the calls here.
  bool WaitUntil(const std::function<bool()>& ready, Millis timeout);
  // Waits until `text` appears on some row / on row `row`.
  bool WaitForText(std::string_view text, Millis timeout);
  bool WaitForRowText(int row, std::string_view text, Millis timeout);
  // Finds the first row containing `text`, or -1.
  int FindRow(std::string_view text) const;

  // Waits for the program to end; gives its wait status (see <sys/wait.h>)
  // or nothing when it is still running after `timeout`.
  std::optional<int> WaitExit(Millis timeout);
  bool Running();
  void Kill(int signal);
  pid_t pid() const { return pid_; }

 private:
  void ReadLoop();
  void FeedLocked(const char* bytes, size_t length);
  void KeyProtocolLocked(const std::string& sequence);
  std::string RowLocked(int row) const;
  int FindRowLocked(std::string_view text) const;

  void NoteDamage(int start_row, int end_row);
  friend struct EmulatorCallbacks;

  int rows_;
  int cols_;
  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  std::optional<int> status_;
  termios before_{};

  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  bool answer_ = true;
  bool speak_protocol_ = false;
  std::string held_;            // a sequence that may be the protocol's
  std::vector<int> key_flags_;  // the protocol's stack, top last
  int pushes_ = 0;
  int pops_ = 0;
  std::string before_pop_;
  std::string replies_;
  std::string transcript_;
  std::vector<int> damage_;
  std::vector<Clock::time_point> written_at_;  // per row
  Clock::time_point read_at_{};                // of the bytes being fed
  struct Held {
    Clock::time_point from;
    Clock::time_point to;
  };
  std::vector<Held> holds_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread reader_;
};

}  // namespace pty

#endif  // MCIPLAY_HARNESS_PTY_SESSION_H
