// The console layer asks the terminal where the cursor is only when it cannot
// know: after an answer or its own cursor move, it follows the program's
// plain text. These tests run the console probe in a pseudo-terminal and
// compare what the layer reports with the emulator's own cursor, counting
// the requests (ESC [ 6 n) the program sent.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pty_session.h"
#include "tests/support/test_files.h"

namespace {

using pty::Millis;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++n;
  return n;
}

// The cursor position requests in what the program wrote.
int Requests(const std::string& transcript) {
  return Count(transcript, "\x1b[6n");
}

struct Probe {
  TempDir dir;
  std::string log = dir.File("log");
  pty::Session session;
  Probe(int rows, int cols) : session(rows, cols) {}

  std::vector<std::string> Run(const std::vector<std::string>& commands) {
    pty::Command c;
    c.argv = {CONSOLE_PROBE};
    c.argv.insert(c.argv.end(), commands.begin(), commands.end());
    c.env = {"PROBE_LOG=" + log};
    EXPECT_TRUE(session.Start(c));
    std::optional<int> status = session.WaitExit(Millis(10000));
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    return Lines(ReadFile(log));
  }
};

// "info OK X Y WIDTH HEIGHT MS" without the time.
std::string Info(const std::string& line) {
  return line.substr(0, line.rfind(' '));
}

TEST(CursorRequests, PlainTextAndOwnMovesNeedNoQuestion) {
  Probe p(24, 40);
  std::vector<std::string> log =
      p.Run({"print:abc", "info", "print:defg", "info", "move:10,5", "info",
             "print:status", "info:2", "move:0,5", "info"});
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(Info(log[1]), "info 1 3 0 40 24");
  EXPECT_EQ(Info(log[3]), "info 1 7 0 40 24");
  EXPECT_EQ(Info(log[5]), "info 1 10 5 40 24");
  // Standard error is the same terminal: it shares what is known.
  EXPECT_EQ(Info(log[7]), "info 1 16 5 40 24");
  EXPECT_EQ(Info(log[9]), "info 1 0 5 40 24");
  EXPECT_EQ(p.session.Cursor(), (pty::Position{5, 0}));
  EXPECT_EQ(Requests(p.session.Transcript()), 1);
}

TEST(CursorRequests, AMoveToWhereTheCursorStandsSendsNothing) {
  Probe p(24, 40);
  std::vector<std::string> log = p.Run(
      {"move:10,5", "move:10,5,2", "move:10,5", "print:x", "move:10,5,2"});
  EXPECT_EQ(log, (std::vector<std::string>{"move 1", "move 1", "move 1",
                                           "print 1 1", "move 1"}));
  // Standard error shares the screen: told the same place, nothing is sent;
  // after the text the cursor has moved on and is sent back.
  EXPECT_EQ(Count(p.session.Transcript(), "\x1b[6;11H"), 2);
  EXPECT_EQ(p.session.Cursor(), (pty::Position{5, 10}));
}

TEST(CursorRequests, TextReachingTheLastColumnMakesItAskAgain) {
  Probe p(10, 20);
  std::vector<std::string> log =
      p.Run({"info", "print:0123456789012345678", "info", "print:9", "info"});
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(Info(log[0]), "info 1 0 0 20 10");
  // Up to the column before the last, the layer follows the text.
  EXPECT_EQ(Info(log[2]), "info 1 19 0 20 10");
  // A character in the last column: the terminal is asked, and answers
  // with its own idea of where the cursor stands.
  EXPECT_EQ(Requests(p.session.Transcript()), 2);
  EXPECT_EQ(Info(log[4]), "info 1 19 0 20 10");
}

TEST(CursorRequests, AResizeMakesItAskAgain) {
  Probe p(24, 80);
  pty::Command c;
  std::vector<std::string> log;
  c.argv = {CONSOLE_PROBE, "info", "print:ab", "waitkey", "info", "info"};
  c.env = {"PROBE_LOG=" + p.log};
  ASSERT_TRUE(p.session.Start(c));
  ASSERT_TRUE(p.session.WaitForText("ab", Millis(5000)));
  p.session.Resize(24, 60);
  p.session.Send("k");
  std::optional<int> status = p.session.WaitExit(Millis(10000));
  ASSERT_TRUE(status && WIFEXITED(*status));
  log = Lines(ReadFile(p.log));
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(Info(log[3]), "info 1 2 0 60 24");
  EXPECT_EQ(Info(log[4]), "info 1 2 0 60 24");
  EXPECT_EQ(Requests(p.session.Transcript()), 2);
}

}  // namespace
