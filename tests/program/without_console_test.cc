// The whole program with standard output to a file and standard input not a
// console, playing a short piece through the real service and device.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/expected_lines.h"
#include "tests/support/test_files.h"
#include "xmgen/pieces.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  Clock::duration elapsed{};
};

// Runs the program in `dir` with stdin from /dev/null and PVL_MCI_OUTPUT
// set to `output` (unset when null). With `term_after`, sends SIGTERM that
// long after the start. Kills it after 30 s.
Outcome RunProgram(const TempDir& dir, const char* output,
                   std::chrono::milliseconds term_after = {},
                   const std::string& exe = MCIPLAY_EXE) {
  Outcome run;
  const std::string out = dir.File("stdout"), err = dir.File("stderr");
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (output != nullptr)
      setenv("PVL_MCI_OUTPUT", output, 1);
    else
      unsetenv("PVL_MCI_OUTPUT");
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return run;
  bool termed = false;
  while (true) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.status = status;
      break;
    }
    auto elapsed = Clock::now() - start;
    if (term_after.count() > 0 && !termed && elapsed >= term_after) {
      kill(pid, SIGTERM);
      termed = true;
    }
    if (elapsed > std::chrono::seconds(30)) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.elapsed = Clock::now() - start;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    dir_.Write("no-sn.xm", xmgen::WriteXm(xmgen::TimedPiece(1500)));
  }
  TempDir dir_;
};

TEST_F(Program, PlaysThePieceToItsEndAndExits) {
  Outcome run = RunProgram(dir_, "null");
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out, kLinesOfAWholeRun);
  EXPECT_EQ(run.err, "");
  // The piece in the current directory, not the bundled one, was played:
  // about its length.
  EXPECT_GE(run.elapsed, std::chrono::milliseconds(1450));
  EXPECT_LT(run.elapsed, std::chrono::seconds(15));
}

TEST_F(Program, TheDefaultOutputPrintsNothingOfItsOwn) {
  // PVL_MCI_OUTPUT unset is "auto": the sound card, or where none opens
  // silent playback; either way the audio libraries print nothing.
  Outcome run = RunProgram(dir_, nullptr);
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out, kLinesOfAWholeRun);
  EXPECT_EQ(run.err, "");
}

// With no sound card (none at all, or a default that names a card that is
// not there) nothing of ALSA, JACK or PortAudio reaches standard error:
// "auto" plays silently, "device" fails the open line and says why there.
class NoSoundCard : public Program,
                    public ::testing::WithParamInterface<const char*> {};

TEST_P(NoSoundCard, NothingReachesStandardError) {
  const std::string config = GetParam();
  if (!config.empty()) {
    std::ofstream(dir_.File("asound.conf")) << config;
    setenv("ALSA_CONFIG_PATH", dir_.File("asound.conf").c_str(), 1);
  }
  const Outcome with_auto = RunProgram(dir_, "auto");
  const Outcome with_device = RunProgram(dir_, "device");
  unsetenv("ALSA_CONFIG_PATH");

  ASSERT_TRUE(WIFEXITED(with_auto.status)) << with_auto.status;
  EXPECT_EQ(WEXITSTATUS(with_auto.status), 0);
  EXPECT_EQ(with_auto.out, kLinesOfAWholeRun);
  EXPECT_EQ(with_auto.err, "");

  ASSERT_TRUE(WIFEXITED(with_device.status)) << with_device.status;
  EXPECT_EQ(WEXITSTATUS(with_device.status), 0);
  EXPECT_EQ(with_device.err, "");
  if (with_device.out == kLinesOfAWholeRun) {
    // This machine has a sound card after all, and it played.
    EXPECT_TRUE(config.empty());
    return;
  }
  const std::string failed = kOpenFailed + "No sound output: ";
  ASSERT_EQ(with_device.out.compare(0, failed.size(), failed), 0)
      << with_device.out;
  const std::string rest = with_device.out.substr(failed.size());
  const std::string tail = ".\r\n" + kPrompt + "\r\n";
  ASSERT_GT(rest.size(), tail.size()) << with_device.out;
  EXPECT_EQ(rest.substr(rest.size() - tail.size()), tail);
  // The reason, on the open line alone.
  EXPECT_EQ(rest.substr(0, rest.size() - tail.size()).find_first_of("\r\n"),
            std::string::npos);
}

const char* const kConfigurationNames[] = {"ThisMachine", "AMissingCard"};
INSTANTIATE_TEST_SUITE_P(
    Configurations, NoSoundCard,
    ::testing::Values("", "pcm.!default { type hw card 99 }\n"),
    [](const ::testing::TestParamInfo<const char*>& info) {
      return std::string(kConfigurationNames[info.index]);
    });

TEST_F(Program, AMissingFileFailsTheOpenLine) {
  // A copy of the program in a directory of its own, run from there: no
  // piece in the current directory nor beside the program.
  if (std::filesystem::exists(MCIPLAY_DATA_DIR "/no-sn.xm"))
    GTEST_SKIP() << "the piece is installed in " MCIPLAY_DATA_DIR;
  TempDir alone;
  const std::string exe = alone.File("mciplay");
  std::filesystem::copy_file(MCIPLAY_EXE, exe);
  Outcome run = RunProgram(alone, "null", {}, exe);
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out,
            kOpenFailed + "The file cannot be found.\r\n" + kPrompt + "\r\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(Program, AFolderOfThePiecesNameHereFailsInsteadOfPlayingTheBundledOne) {
  // The build puts the bundled piece beside the program; a folder named
  // no-sn.xm in the current directory still decides.
  std::filesystem::remove(dir_.File("no-sn.xm"));
  std::filesystem::create_directory(dir_.File("no-sn.xm"));
  Outcome run = RunProgram(dir_, "null");
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(run.out, kOpenFailed +
                         "The file cannot be read: it is a directory.\r\n" +
                         kPrompt + "\r\n");
}

TEST_F(Program, ADamagedFileFailsTheOpenLineCleanly) {
  dir_.Write("no-sn.xm", {'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'd'});
  Outcome run = RunProgram(dir_, "null");
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.out, kOpenFailed +
                         "The file is not one the device can play.\r\n" +
                         kPrompt + "\r\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(Program, SigtermMidPlayEndsItWithExitCodeZero) {
  Outcome run = RunProgram(dir_, "null", std::chrono::milliseconds(500));
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_LT(run.elapsed, std::chrono::milliseconds(1400));
  EXPECT_EQ(run.err, "");
}

}  // namespace
