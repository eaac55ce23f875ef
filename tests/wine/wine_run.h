// What the Wine tests share: the lines the program prints, reading the
// position off the screen, and the prefixes the setup test made.
#ifndef MCIPLAY_TESTS_WINE_WINE_RUN_H
#define MCIPLAY_TESTS_WINE_WINE_RUN_H

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harness/pty_session.h"

namespace wine {

using namespace std::chrono_literals;

inline constexpr char kOpenLine[] =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  ok.";
inline constexpr char kOpenFailed[] =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  Error: ";
inline constexpr char kSetLine[] = "set PELVARO_MCI time format ms ...  ok.";
inline constexpr char kPlayLine[] = "play PELVARO_MCI ...  ok.";
inline constexpr char kCloseLine[] = "close PELVARO_MCI ...  ok.";
inline constexpr char kPrompt[] = "Press a key to exit";

// Wine starts a fresh prefix's services on the first run; allow for that.
inline constexpr auto kStartTimeout = 30s;

std::string ReadFile(const std::filesystem::path& path);
std::vector<std::string> Lines(const std::string& text);

// The position shown by a status line, in hundredths, or -1 when `row` is no
// status line.
int ShownPosition(const std::string& row);

// Every position drawn, in order, from the raw bytes the program wrote.
std::vector<int> DrawnPositions(const std::string& transcript);

bool ExitedWithZero(const std::optional<int>& status);

// The terminal is left as the program found it.
void ExpectSettingsRestored(const pty::Session& session);

// The folder holding this test run's prefixes, as the setup test wrote it
// down; empty when there is none.
std::filesystem::path PrefixRoot();

// What every Wine run gets in its environment, for the prefix `prefix`.
std::vector<std::string> WineEnv(const std::filesystem::path& prefix);

// A folder of the test's own under `root`, removed with its contents.
class RunDir {
 public:
  explicit RunDir(const std::filesystem::path& root);
  ~RunDir();
  RunDir(const RunDir&) = delete;
  RunDir& operator=(const RunDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace wine

#endif  // MCIPLAY_TESTS_WINE_WINE_RUN_H
