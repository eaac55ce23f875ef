// Positions of a hundred minutes and far beyond: the silent output's count
// of frames over runs of days, and the replies of the service for pieces
// of hours and weeks, sought into and played on a clock of the test's own.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "mci/device.h"
#include "pvl_mci/module_device.h"
#include "pvl_mci/output.h"
#include "tests/support/manual_clock.h"
#include "winmm/service.h"
#include "xmgen/xm_writer.h"

namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// 48 frames a millisecond; 2^32 frames are 24 h 51 min, and nanoseconds
// times the rate leave 64 bits after 106 h 45 min.
constexpr std::uint64_t FramesOf(std::chrono::milliseconds d) {
  return static_cast<std::uint64_t>(d.count()) * pvl::kFramesPerMs;
}

TEST(SilentOutputCount, ExactOverRunsOfDays) {
  auto output = pvl::MakeSilentOutput();
  const pvl::Nanos t0 = hours(1);
  output->Start(t0);
  const std::uint64_t lots = FramesOf(hours(24 * 40));
  output->Write(nullptr, static_cast<std::size_t>(lots), t0);
  const pvl::Progress heard = output->Heard(t0);
  for (auto at : {milliseconds(6000000),                     // 100 min
                  milliseconds(89478485) + milliseconds(1),  // past 2^32 frames
                  milliseconds(hours(107)),  // past 2^64 ns * rate
                  milliseconds(hours(24 * 30))}) {
    SCOPED_TRACE(at.count());
    EXPECT_EQ(pvl::HeardBy(heard, t0 + at), FramesOf(at));
    EXPECT_EQ(pvl::HeardBy(heard, t0 + at - nanoseconds(1)), FramesOf(at) - 1);
    EXPECT_EQ(pvl::WhenHeard(heard, FramesOf(at)), t0 + at);
    EXPECT_EQ(pvl::WhenHeard(heard, FramesOf(at) + 1),
              t0 + at + nanoseconds(20834));  // 1/48000 s, rounded up
  }
  // Never more than was written.
  EXPECT_EQ(pvl::HeardBy(heard, t0 + hours(24 * 50)), lots);
  EXPECT_EQ(pvl::WhenHeard(heard, lots + 1), pvl::kForever);
}

TEST(SilentOutputCount, AWriterThatFellBehindGoesOnFromTheLastFrame) {
  // As a sound card does when the process feeding it was stopped: the
  // frames queued are heard, then the count waits, and goes on from there
  // once written to again.
  auto output = pvl::MakeSilentOutput();
  const pvl::Nanos t0 = hours(200);
  output->Start(t0);
  output->Write(nullptr, output->Room(t0), t0);
  const std::uint64_t queued = output->Capacity();
  EXPECT_EQ(output->Room(t0), 0u);
  EXPECT_EQ(pvl::HeardBy(output->Heard(t0), t0 + milliseconds(60)), 60u * 48);
  const pvl::Nanos later = t0 + hours(30);
  EXPECT_EQ(pvl::HeardBy(output->Heard(later), later), queued);
  EXPECT_EQ(output->Room(later), queued);
  output->Write(nullptr, 4800, later);
  EXPECT_EQ(pvl::HeardBy(output->Heard(later), later), queued);
  EXPECT_EQ(pvl::HeardBy(output->Heard(later), later + milliseconds(100)),
            queued + 4800);
  EXPECT_EQ(pvl::WhenHeard(output->Heard(later), queued + 4800),
            later + milliseconds(100));
}

// A server that takes a stream's frames a graph cycle at a time (170 ms,
// 8160 frames here): a report of a new read index moves the clock back
// only where it proves the clock ahead. The clock ran from 0 at 0.
TEST(ACycleTakingServer, NewIndexesBoundTheClock) {
  const struct {
    milliseconds since, now;  // the report before, and this one
    std::uint64_t heard;
  } cases[] = {{milliseconds(100), milliseconds(200), 9600},   // late in it
               {milliseconds(100), milliseconds(150), 8160},   // behind it
               {milliseconds(190), milliseconds(200), 8640}};  // ahead of it
  const pvl::Progress clock{0, pvl::Nanos{0}, true, ~std::uint64_t{0}};
  for (const auto& c : cases) {
    const pvl::Progress p = pvl::HeardInCycles(
        clock, pvl::HeardFromServer(8160, 0, true, c.now), c.since, c.now);
    EXPECT_EQ(pvl::HeardBy(p, c.now), c.heard);
    EXPECT_EQ(pvl::HeardBy(p, c.now + milliseconds(10)), c.heard + 480);
  }
}

// A piece of `patterns` times one pattern of 256 empty rows, each row
// lasting `row_ms` ms; with `delay`, every row is held 15 times more.
std::vector<std::uint8_t> LongPiece(int patterns, int speed, int tempo,
                                    bool delay) {
  xmgen::Module m;
  m.name = "long";
  m.channels = 1;
  m.speed = speed;
  m.tempo = tempo;
  xmgen::Pattern p(256, 1);
  if (delay)
    for (int r = 0; r < 256; ++r) {
      p.At(r, 0).effect = 0x0E;
      p.At(r, 0).param = 0xEF;
    }
  m.patterns.push_back(std::move(p));
  m.orders.assign(static_cast<std::size_t>(patterns), 0);
  return xmgen::WriteXm(m);
}

// The service over module devices on a clock of the test's: the element
// names which long piece to open.
class LongPositions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    winmm::AddDeviceType("long_test", [](std::string_view element,
                                         std::unique_ptr<mci::Device>& d) {
      std::vector<std::uint8_t> bytes;
      if (element == "minutes") bytes = LongPiece(24, 20, 50, false);  // 102:24
      if (element == "hours")
        bytes = LongPiece(256, 24, 32, false);  // 34 h 8 min
      if (element == "weeks") bytes = LongPiece(256, 24, 32, true);  // 22 days
      std::unique_ptr<pvl::ModuleDevice> device;
      mci::Result r = pvl::ModuleDevice::Create(bytes, pvl::MakeSilentOutput(),
                                                *clock_, device);
      if (r.error == 0) {
        last_ = device.get();
        d = std::move(device);
      }
      return r;
    });
  }
  static void TearDownTestSuite() { winmm::RemoveDeviceType("long_test"); }
  void TearDown() override { Send("close all"); }

  std::string Send(const std::string& command) {
    char reply[81];
    std::memset(reply, 'x', sizeof reply);
    const MCIERROR e =
        mciSendStringA(command.c_str(), reply, sizeof reply, nullptr);
    EXPECT_EQ(e, 0u) << command << ": " << reply;
    return reply;
  }
  // In steps of at most 100 ms, as a device that keeps up sees the time.
  void Advance(int ms) {
    ASSERT_TRUE(AdvanceInSteps(*clock_, *last_, ms, 100));
  }
  void Open(const std::string& which) {
    Send("open " + which + " type long_test alias long");
    Send("set long time format ms");
  }

  static inline ManualClock* clock_ = new ManualClock;
  static inline pvl::ModuleDevice* last_ = nullptr;
};

TEST_F(LongPositions, PastOneHundredMinutesToTheEnd) {
  Open("minutes");
  EXPECT_EQ(Send("status long length"), "6144000");
  Send("seek long to 5999990");
  EXPECT_EQ(Send("status long position"), "5999990");
  Send("play long");
  ASSERT_TRUE(Settle(*last_));
  Advance(10);
  EXPECT_EQ(Send("status long position"), "6000000");
  Advance(60000);
  EXPECT_EQ(Send("status long position"), "6060000");
  EXPECT_EQ(Send("status long mode"), "playing");
  Send("seek long to 6143990");
  Send("play long");
  ASSERT_TRUE(Settle(*last_));
  Advance(9);
  EXPECT_EQ(Send("status long position"), "6143999");
  EXPECT_EQ(Send("status long mode"), "playing");
  Advance(1);
  EXPECT_EQ(Send("status long mode"), "stopped");
  EXPECT_EQ(Send("status long position"), "6144000");
}

TEST_F(LongPositions, HoursAndWeeksStayPlainDecimal) {
  struct Case {
    const char* which;
    const char* length;
    std::uint32_t from;
  };
  // 34 h: the frames from the start pass 32 bits. 22 days: the
  // milliseconds come near the 31 bits of the position the program reads.
  for (const Case c : {Case{"hours", "122880000", 122000000u},
                       Case{"weeks", "1966080000", 1966000000u}}) {
    SCOPED_TRACE(c.which);
    Open(c.which);
    EXPECT_EQ(Send("status long length"), c.length);
    Send("play long from " + std::to_string(c.from));
    ASSERT_TRUE(Settle(*last_));
    Advance(1234);
    EXPECT_EQ(Send("status long position"), std::to_string(c.from + 1234));
    Send("seek long to end");
    EXPECT_EQ(Send("status long position"), c.length);
    Send("close long");
  }
}

}  // namespace
