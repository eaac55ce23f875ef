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

// The unzipped package in the "package" prefix, in a folder whose path holds
// spaces: its Unix path under the prefix root `root`, and its Windows path.
std::filesystem::path PackageFolder(const std::filesystem::path& root);
std::string PackageWindowsFolder();

// The start of a shell command that runs a Windows program in `prefix`:
// the environment and the loader, then a blank.
std::string WineIn(const std::filesystem::path& prefix);

// The text of the registry value `name` under `key` (HKLM\...) in
// `prefix`; empty when there is none.
std::string RegistryText(const std::filesystem::path& prefix,
                         const std::string& key, const std::string& name);

// The keys of media drivers (Wine's, not MCI32) and of extensions.
inline constexpr char kDriversKey[] =
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\MCI";
inline constexpr char kExtensionsKey[] =
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\MCI "
    "Extensions";

// The driver's registered value in `prefix` names `dll` (a Unix path)
// without a blank: winmm reads it only up to one, so a path with spaces is
// there by its short form.
void ExpectRegisteredWithoutABlank(const std::filesystem::path& prefix,
                                   const std::filesystem::path& dll);

// What the shell command `line` writes on its standard output.
std::string OutputOf(const std::string& line);

// What every Wine run gets in its environment, for the prefix `prefix`.
std::vector<std::string> WineEnv(const std::filesystem::path& prefix);

}  // namespace wine

#endif  // MCIPLAY_TESTS_WINE_WINE_RUN_H
