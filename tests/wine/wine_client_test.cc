// Another program using the driver: mci_client (tests/wine/driver/), a C
// program of the kind other MCI programs are, run in the package's prefix
// with the silent output. It checks the replies, the notifications its
// message-only window receives, two devices at once and a module opened by
// its extension, and prints one line per check; here every line must say
// "ok". Then 1,000 open/close cycles as the only device.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/wine/wine_run.h"
#include "xmgen/pieces.h"
#include "xmgen/xm_writer.h"

namespace {

using namespace wine;
namespace fs = std::filesystem;

class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = PrefixRoot();
    if (root_.empty() || !fs::exists(PackageFolder(root_)))
      GTEST_SKIP() << "no unzipped package: run the whole wine label";
    if (!fs::exists(MCIPLAY_MCI_CLIENT))
      GTEST_SKIP() << MCIPLAY_MCI_CLIENT << " is missing";
    run_ = std::make_unique<TempDir>(root_);
    ASSERT_FALSE(run_->path().empty());
    // The client's checks expect a piece of 2 s.
    run_->Write("piece.xm", xmgen::WriteXm(xmgen::TimedPiece(2000)));
  }

  // The client's lines for `args`, run from the temporary folder.
  std::vector<std::string> Run(const std::string& args) const {
    std::string line = "cd '" + run_->path().string() + "' && WINEPREFIX='" +
                       (root_ / "package").string() +
                       "' WINEDEBUG=-all PVL_MCI_OUTPUT=null '" MCIPLAY_WINE64
                       "' '" MCIPLAY_MCI_CLIENT "' " +
                       args + " 2>&1; echo exit $?";
    std::vector<std::string> lines = Lines(OutputOf(line));
    for (std::string& l : lines) l.erase(l.find_last_not_of("\r ") + 1);
    return lines;
  }

  fs::path root_;
  std::unique_ptr<TempDir> run_;
};

TEST_F(Client, RepliesNotificationsTwoDevicesAndAModuleByItsExtension) {
  const std::vector<std::string> lines = Run("checks piece.xm");
  int ok = 0;
  for (const std::string& l : lines) {
    if (l.rfind("ok ", 0) == 0)
      ++ok;
    else if (l != "exit 0")
      ADD_FAILURE() << l;
  }
  // As many checks as the client makes: none was left out.
  EXPECT_GE(ok, 38);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "exit 0");
}

// Each cycle loaded and freed the driver, and left about 75 KB behind
// (the C++ runtime's emergency pool); now the driver stays loaded. What is
// left is the noise of winmm's and Wine's own heaps: 50-320 KB in 1,000
// cycles. The time per cycle is the benchmark's (mci_client prints it).
TEST_F(Client, AThousandOpenCloseCyclesGrowTheProcessByLessThanAMegabyte) {
  const std::vector<std::string> lines = Run("cycles piece.xm 1000");
  ASSERT_EQ(lines.size(), 2u) << (lines.empty() ? "" : lines.front());
  EXPECT_EQ(lines[1], "exit 0");
  std::istringstream in(lines[0]);
  std::string word;
  long long cycles = 0, committed_kb = -1, working_set_kb = -1;
  in >> word >> cycles >> word >> committed_kb >> word >> working_set_kb;
  EXPECT_EQ(cycles, 1000) << lines[0];
  EXPECT_LT(committed_kb, 1024) << lines[0];
  EXPECT_LT(working_set_kb, 1024) << lines[0];
  RecordProperty("cycles", lines[0]);
}

}  // namespace
