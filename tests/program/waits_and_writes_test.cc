// What the program costs a terminal and the processor, seen from outside in
// a pseudo-terminal: each pass of the playback loop reaches the terminal as
// one write; the final wait sleeps until a key comes, and input that can
// never qualify wakes it without making it spin.
#include <signal.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/screen_checks.h"

namespace {

using namespace screen;
using pty::Millis;

pty::Command Program(int ms) {
  return pty::Command{{MCIPLAY_SCRIPTED}, {PlayMs(ms)}, {}};
}

// The main thread's processor time, in clock ticks, and its voluntary
// context switches: one each time it blocks, so a wait that wakes every
// 10 ms shows about 100 a second, and a loop that spins shows ticks.
struct Effort {
  long ticks = 0;
  long switches = 0;
};

Effort EffortOf(pid_t pid) {
  Effort effort;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  // Fields after the command name, which ends at the last ')': utime and
  // stime are the 12th and 13th of them.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i >= 12) effort.ticks += std::stol(field);
  }
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
      effort.switches = std::stol(line.substr(line.find(':') + 1));
  }
  return effort;
}

Effort EffortOver(pty::Session& session, Millis span) {
  const Effort before = EffortOf(session.pid());
  std::this_thread::sleep_for(span);
  const Effort after = EffortOf(session.pid());
  return Effort{after.ticks - before.ticks, after.switches - before.switches};
}

// Ticks a spinning loop would not stay under for 1.5 s, even sharing a
// busy processor; a program that waits spends one or two.
constexpr long kSpinning = 40;

TEST(Waits, ThePromptSleepsUntilAKeyComes) {
  pty::Session session(24, 80);
  ASSERT_TRUE(session.Start(Program(200)));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  std::this_thread::sleep_for(Millis(200));
  const Effort idle = EffortOver(session, Millis(2000));
  // Woken about once a second: a 10 ms poll would switch about 200 times.
  EXPECT_LE(idle.switches, 8);
  EXPECT_LT(idle.ticks, kSpinning);
  session.Send("x");
  ExpectExitZero(session);
}

// Records that never qualify (an arrow key's, a held key's press, Shift)
// wake the wait once, then are dropped, and a key after them still counts.
TEST(Waits, InputThatNeverQualifiesDoesNotMakeThePromptSpin) {
  pty::Session session(24, 80);
  session.SpeakKeyProtocol(true);
  ASSERT_TRUE(session.Start(Program(200)));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  session.Send("\x1b[57441;2u\x1b[104u");  // Shift, then h, held down
  std::this_thread::sleep_for(Millis(100));
  const Effort held = EffortOver(session, Millis(1500));
  EXPECT_LT(held.ticks, kSpinning);
  EXPECT_LE(held.switches, 8);
  session.Send("\x1b[104;1:3u");  // h released
  ExpectExitZero(session);
}

// The program's system calls as strace saw them: each write to standard
// output, and each wait for input (a poll with a timeout).
struct Call {
  bool wait = false;
  std::string text;  // of a write, as strace quotes it
};

std::vector<Call> Calls(const std::string& trace_path) {
  static const std::regex kWrite(R"re(write\(1, "(.*)", \d+\) = \d+)re");
  static const std::regex kWait(
      R"(poll\(\[\{fd=0, events=POLLIN\}\], 1, [1-9]\d*\))");
  std::vector<Call> calls;
  std::ifstream trace(trace_path);
  std::smatch m;
  for (std::string line; std::getline(trace, line);) {
    if (std::regex_search(line, m, kWrite))
      calls.push_back(Call{false, m[1]});
    else if (std::regex_search(line, kWait))
      calls.push_back(Call{true, ""});
  }
  return calls;
}

// Every redraw is one write holding the line, the erasure of the rest of
// the row and the carriage return that leaves the cursor in column 1,
// where the next pass starts, with line wrap off around them; no wait sees
// two writes before it.
TEST(Writes, EachPassReachesTheTerminalAsOneWrite) {
  ASSERT_STRNE(MCIPLAY_STRACE, "")
      << "strace is missing: scripts/install-deps test";
  TempDir dir;
  pty::Session session(24, 80);
  pty::Command command = Program(1500);
  command.argv = {
      MCIPLAY_STRACE, "-qq", "-e", "trace=write,poll", "-e", "signal=none",
      "-s",           "256", "-o", dir.File("trace"),  "--", MCIPLAY_SCRIPTED};
  // LeakSanitizer cannot run under a tracer.
  command.env.push_back("ASAN_OPTIONS=detect_leaks=0");
  ASSERT_TRUE(session.Start(command));
  ASSERT_TRUE(session.WaitForRowText(kStatusRow + 2, kPrompt, kLong))
      << Shown(session);
  ExpectClosingScreen(session);
  session.Send("x");
  ExpectExitZero(session);

  static const std::regex kPass(
      R"(\\33\[\?7lPlaying: \d\d:\d\d\.\d\d \.\.\.press a Key to stop\.)"
      R"(\\33\[K\\r\\33\[\?7h)");
  const std::vector<Call> calls = Calls(dir.File("trace"));
  std::size_t i = 0;
  // From the first wait after the first redraw (the first pass also asks
  // the terminal where the cursor is) to the close line.
  while (i < calls.size() &&
         calls[i].text.find("Playing: ") == std::string::npos)
    ++i;
  while (i < calls.size() && !calls[i].wait) ++i;
  int passes = 0;
  int writes_since_wait = 0;
  for (; i < calls.size(); ++i) {
    const Call& call = calls[i];
    if (call.text.find("close PELVARO_MCI") != std::string::npos) break;
    if (call.wait) {
      writes_since_wait = 0;
      continue;
    }
    EXPECT_EQ(++writes_since_wait, 1) << call.text;
    EXPECT_TRUE(std::regex_match(call.text, kPass)) << call.text;
    ++passes;
  }
  EXPECT_LT(i, calls.size()) << "no close line in the trace";
  EXPECT_GE(passes, 20);
}

}  // namespace
