// Damaged and odd files opened through the service as the program opens its
// piece: each gives a clean error on the open, or a playback that a close
// ends.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "player/mci_command.h"
#include "pvl_mci/open_module.h"
#include "tests/support/test_files.h"
#include "xmgen/pieces.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
         static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void SetU16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void SetU32(Bytes& b, std::size_t at, std::uint32_t v) {
  SetU16(b, at, v & 0xFFFF);
  SetU16(b, at + 2, v >> 16);
}

// Offsets in a file from the XM writer: the song header, the first
// pattern, the first instrument and its first sample header.
constexpr std::size_t kOrders = 64, kChannels = 68, kPatterns = 70,
                      kInstruments = 72, kSpeed = 76, kTempo = 78,
                      kFirstPattern = 336;
std::size_t FirstInstrument(const Bytes& b) {
  std::size_t at = kFirstPattern;
  const unsigned patterns = b[kPatterns] | b[kPatterns + 1] << 8u;
  for (unsigned p = 0; p < patterns; ++p)
    at += U32(b, at) + (b[at + 7] | b[at + 8] << 8);
  return at;
}
std::size_t FirstSampleHeader(const Bytes& b) {
  std::size_t at = FirstInstrument(b);
  return at + U32(b, at);
}

struct Mangle {
  const char* name;
  std::function<void(Bytes&)> apply;
};
void PrintTo(const Mangle& m, std::ostream* out) { *out << m.name; }

Bytes Piece() { return xmgen::WriteXm(xmgen::ComposePiece()); }

const Mangle kMangles[] = {
    {"empty", [](Bytes& b) { b.clear(); }},
    {"cut to 16 bytes", [](Bytes& b) { b.resize(16); }},
    {"cut in the song header", [](Bytes& b) { b.resize(70); }},
    {"cut after the song header", [](Bytes& b) { b.resize(kFirstPattern); }},
    {"cut in the first pattern",
     [](Bytes& b) { b.resize(kFirstPattern + 40); }},
    {"cut in the instruments",
     [](Bytes& b) { b.resize(FirstInstrument(b) + 100); }},
    {"cut in the sample data", [](Bytes& b) { b.resize(b.size() / 2); }},
    {"one byte short", [](Bytes& b) { b.pop_back(); }},
    {"wrong signature", [](Bytes& b) { b[0] = 'X'; }},
    {"header size huge", [](Bytes& b) { SetU32(b, 60, 0xFFFFFFF0u); }},
    {"header size zero", [](Bytes& b) { SetU32(b, 60, 0); }},
    {"no orders", [](Bytes& b) { SetU16(b, kOrders, 0); }},
    {"65535 orders", [](Bytes& b) { SetU16(b, kOrders, 0xFFFF); }},
    {"order of a missing pattern", [](Bytes& b) { b[80] = 200; }},
    {"no channels", [](Bytes& b) { SetU16(b, kChannels, 0); }},
    {"65535 channels", [](Bytes& b) { SetU16(b, kChannels, 0xFFFF); }},
    {"65535 patterns", [](Bytes& b) { SetU16(b, kPatterns, 0xFFFF); }},
    {"65535 instruments", [](Bytes& b) { SetU16(b, kInstruments, 0xFFFF); }},
    {"speed and tempo zero",
     [](Bytes& b) {
       SetU16(b, kSpeed, 0);
       SetU16(b, kTempo, 0);
     }},
    {"speed and tempo huge",
     [](Bytes& b) {
       SetU16(b, kSpeed, 0xFFFF);
       SetU16(b, kTempo, 0xFFFF);
     }},
    {"pattern of 65535 rows",
     [](Bytes& b) { SetU16(b, kFirstPattern + 5, 0xFFFF); }},
    {"pattern data size huge",
     [](Bytes& b) { SetU16(b, kFirstPattern + 7, 0xFFFF); }},
    {"pattern header length huge",
     [](Bytes& b) { SetU32(b, kFirstPattern, 0x7FFFFFFF); }},
    {"instrument size huge",
     [](Bytes& b) { SetU32(b, FirstInstrument(b), 0x7FFFFFFF); }},
    {"sample length huge",
     [](Bytes& b) { SetU32(b, FirstSampleHeader(b), 0x7FFFFFF0); }},
    {"sample loop past its end",
     [](Bytes& b) {
       std::size_t s = FirstSampleHeader(b);
       SetU32(b, s + 4, 0x10000000);
       SetU32(b, s + 8, 0x10000000);
     }},
    {"every byte after the header inverted",
     [](Bytes& b) {
       for (std::size_t i = 60; i < b.size(); ++i) b[i] ^= 0xFF;
     }},
    {"pattern data scrambled",
     [](Bytes& b) {
       std::uint32_t seed = 99;
       const std::size_t end = FirstInstrument(b);
       for (std::size_t i = kFirstPattern + 9; i < end; ++i) {
         seed = seed * 1664525u + 1013904223u;
         b[i] = static_cast<std::uint8_t>(seed >> 24);
       }
     }},
    {"noise",
     [](Bytes& b) {
       std::uint32_t seed = 7;
       for (std::uint8_t& v : b) {
         seed = seed * 1664525u + 1013904223u;
         v = static_cast<std::uint8_t>(seed >> 24);
       }
       b.resize(4096);
     }},
    {"zeros", [](Bytes& b) { b.assign(4096, 0); }},
    {"text",
     [](Bytes& b) {
       const char text[] = "This is not music.\n";
       b.assign(text, text + sizeof text - 1);
     }},
};

class DamagedFiles : public ::testing::TestWithParam<Mangle> {
 protected:
  static void SetUpTestSuite() {
    setenv("PVL_MCI_OUTPUT", "null", 1);
    StartMedia();
  }

  MCIERROR Send(const std::string& command) {
    std::memset(reply_, 'x', sizeof reply_);
    MCIERROR e =
        mciSendStringA(command.c_str(), reply_, sizeof reply_, nullptr);
    EXPECT_NE(std::memchr(reply_, '\0', sizeof reply_), nullptr) << command;
    return e;
  }

  TempDir dir_;
  char reply_[81];
};

TEST_P(DamagedFiles, CleanErrorOrAPlaybackThatStops) {
  Bytes bytes = Piece();
  GetParam().apply(bytes);
  const std::string file = dir_.Write("damaged.xm", bytes);

  MCIERROR e = Send("open \"" + file + "\" type pvl_mci alias damaged");
  if (e != 0) {
    EXPECT_TRUE(e == MCIERR_INVALID_FILE || e == MCIERR_FILE_NOT_FOUND) << e;
    EXPECT_GT(std::strlen(reply_), 0u);
    EXPECT_EQ(Send("status damaged mode"), MCIERR_INVALID_DEVICE_NAME);
    return;
  }
  ASSERT_EQ(Send("set damaged time format ms"), 0u);
  ASSERT_EQ(Send("play damaged"), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_EQ(Send("status damaged mode"), 0u);
  EXPECT_TRUE(std::strcmp(reply_, "playing") == 0 ||
              std::strcmp(reply_, "stopped") == 0)
      << reply_;
  ASSERT_EQ(Send("status damaged position"), 0u);
  EXPECT_GT(std::strlen(reply_), 0u);
  EXPECT_EQ(Send("close damaged"), 0u);
  EXPECT_EQ(Send("status damaged mode"), MCIERR_INVALID_DEVICE_NAME);
}

INSTANTIATE_TEST_SUITE_P(Mangled, DamagedFiles, ::testing::ValuesIn(kMangles),
                         [](const ::testing::TestParamInfo<Mangle>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c)
                             name +=
                                 std::isalnum(static_cast<unsigned char>(*c))
                                     ? *c
                                     : '_';
                           return name;
                         });

class OddElements : public DamagedFiles {};

TEST_F(OddElements, MissingFilesAreNotFoundAndDirectoriesNotRead) {
  EXPECT_EQ(Send("open \"" + dir_.File("none.xm") + "\" type pvl_mci alias a"),
            MCIERR_FILE_NOT_FOUND);
  EXPECT_STREQ(reply_, "The file cannot be found.");
  EXPECT_EQ(Send("open \"" + dir_.path().string() + "\" type pvl_mci alias a"),
            MCIERR_FILE_READ);
  EXPECT_STREQ(reply_, "The file cannot be read: it is a directory.");
  EXPECT_EQ(Send("open \"\" type pvl_mci alias a"), MCIERR_FILE_NOT_FOUND);
}

TEST_F(OddElements, TheIntactPieceOpensAndPlays) {
  const std::string file = dir_.Write("piece.xm", Piece());
  ASSERT_EQ(Send("open \"" + file + "\" type PVL_MCI alias p"), 0u);
  ASSERT_EQ(Send("play p"), 0u);
  ASSERT_EQ(Send("status p mode"), 0u);
  EXPECT_STREQ(reply_, "playing");
  ASSERT_EQ(Send("status p length"), 0u);
  EXPECT_GT(std::atoi(reply_), 50000);
  EXPECT_EQ(Send("close p"), 0u);
}

TEST_F(OddElements, ABadOutputChoiceFailsTheOpen) {
  const std::string file =
      dir_.Write("piece.xm", xmgen::WriteXm(xmgen::TimedPiece(100)));
  setenv("PVL_MCI_OUTPUT", "speakers", 1);
  EXPECT_EQ(Send("open \"" + file + "\" type pvl_mci alias p"),
            MCIERR_BAD_CONSTANT);
  EXPECT_STREQ(reply_,
               "PVL_MCI_OUTPUT must be auto, null, device, pulse or alsa.");
  setenv("PVL_MCI_OUTPUT", "null", 1);
}

TEST_F(OddElements, ADeviceLeftPlayingClosesAtExit) {
  const std::string file = dir_.Write("piece.xm", Piece());
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = Send("open \"" + file + "\" type pvl_mci alias left") == 0 &&
              Send("play left") == 0;
    std::exit(ok ? 0 : 3);  // the service closes the device as it ends
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the process did not end with a device playing";
  }
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
