// What the end-to-end tests expect to see of the program in a terminal, as
// checks shared by the runs of its builds.
#ifndef MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H
#define MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H

#include <termios.h>

#include <string>

#include "harness/pty_session.h"

namespace e2e {

inline constexpr char kOpenLine[] =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  ok.";
inline constexpr char kTimeLine[] = "set PELVARO_MCI time format ms ...  ok.";
inline constexpr char kPlayLine[] = "play PELVARO_MCI ...  ok.";
inline constexpr char kCloseLine[] = "close PELVARO_MCI ...  ok.";
inline constexpr char kPrompt[] = "Press a key to exit";
// The row of the position line in a terminal that starts blank.
inline constexpr int kStatusRow = 3;
inline const pty::Millis kLong(8000);

// The position a status line shows, in hundredths, or -1 when the text is
// not a status line.
int ShownHundredths(const std::string& row);

bool SameSettings(const termios& a, const termios& b);

// The screen, for failure messages.
std::string Shown(const pty::Session& session);

// Expects a normal end with exit code 0.
void ExpectExitZero(pty::Session& session);

// The open, time-format and play lines on the first three rows.
void ExpectCommandLines(const pty::Session& session);

// Watches the status row for `span`: every sample is a status line, the
// cursor stays on that row, the position never goes back and does change,
// and no other row is written to.
void ExpectRedrawnInPlace(pty::Session& session, pty::Millis span);

// The same on row `row`, where each sample is the status line cut to the
// terminal's width less one column.
void ExpectRedrawnInPlaceAt(pty::Session& session, int row, pty::Millis span);

// The screen after a full run: the close line over the status row, "Done!",
// the prompt, and no position line left.
void ExpectClosingScreen(const pty::Session& session);

// A directory of the test's own, removed with its contents afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

}  // namespace e2e

#endif  // MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H
