// What the tests of the program in a pseudo-terminal expect to see of it,
// as checks shared by the runs of its builds, and the shell some of them
// start it from.
#ifndef MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H
#define MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H

#include <termios.h>

#include <string>
#include <vector>

#include "harness/pty_session.h"
#include "tests/support/expected_lines.h"
#include "tests/support/test_files.h"

namespace screen {

// The row of the position line in a terminal that starts blank.
inline constexpr int kStatusRow = 3;
inline const pty::Millis kLong(8000);

// The position a status line shows, in hundredths, or -1 when the text is
// not a status line.
int ShownHundredths(const std::string& row);

// Every position drawn, in order, from the raw bytes the program wrote.
std::vector<int> DrawnPositions(const std::string& transcript);

bool SameSettings(const termios& a, const termios& b);

// The screen, for failure messages.
std::string Shown(const pty::Session& session);

// Expects a normal end with exit code 0.
void ExpectExitZero(pty::Session& session);

// The open, time-format and play lines on the first three rows, or from
// row `top` on.
void ExpectCommandLines(const pty::Session& session, int top = 0);

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

// The setting that has the scripted media service (tests/support/ or
// tests/wine/driver/) play for `ms`.
std::string PlayMs(int ms);

// An interactive bash with job control, "$ " for its prompt, no history,
// and `env` added.
pty::Command InteractiveShell(std::vector<std::string> env);

// Waits until the shell prompts again after the last `text` written: keys
// typed before that could be lost.
bool WaitForShellAfter(pty::Session& session, const std::string& text);

}  // namespace screen

#endif  // MCIPLAY_TESTS_SUPPORT_SCREEN_CHECKS_H
