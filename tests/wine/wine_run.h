// What the Wine tests share beside the screen checks (tests/support/): the
// prefixes the setup test made, and the program's exit and terminal.
#ifndef MCIPLAY_TESTS_WINE_WINE_RUN_H
#define MCIPLAY_TESTS_WINE_WINE_RUN_H

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace wine {

using namespace std::chrono_literals;
using screen::DrawnPositions;
using screen::ShownHundredths;

// Wine starts a fresh prefix's services on the first run; allow for that.
inline constexpr auto kStartTimeout = 30s;

bool ExitedWithZero(const std::optional<int>& status);

// The terminal is left as the program found it.
void ExpectSettingsRestored(const pty::Session& session);

// Expects the program to be waiting at its prompt, then ends it with Enter
// (a control character counts like a letter) and expects exit code 0 and
// the terminal given back.
void ExpectWaitsThenExits(pty::Session& session);

// The folder holding this test run's prefixes, as the setup test wrote it
// down; empty when there is none.
std::filesystem::path PrefixRoot();

// What the shell command `line` writes on its standard output.
std::string OutputOf(const std::string& line);

// What every Wine run gets in its environment, for the prefix `prefix`.
std::vector<std::string> WineEnv(const std::filesystem::path& prefix);

}  // namespace wine

#endif  // MCIPLAY_TESTS_WINE_WINE_RUN_H
