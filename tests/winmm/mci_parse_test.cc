#include "winmm/parse.h"

#include <gtest/gtest.h>

namespace {

winmm::Command Parse(const char* text) {
  winmm::Command c;
  EXPECT_EQ(winmm::ParseCommand(text, c), 0u) << text;
  return c;
}

std::vector<std::string> Texts(const winmm::Command& c) {
  std::vector<std::string> out;
  for (const winmm::Word& w : c.words) out.push_back(w.text);
  return out;
}

TEST(ParseCommand, SplitsVerbDeviceAndWordsAtAnyBlanks) {
  winmm::Command c =
      Parse("  OPEN\tno-sn.xm  type pvl_mci\r\nalias PELVARO_MCI ");
  EXPECT_EQ(c.verb, "open");  // the command word is taken in lower case
  EXPECT_EQ(c.device.text, "no-sn.xm");
  EXPECT_FALSE(c.device.quoted);
  EXPECT_EQ(Texts(c), (std::vector<std::string>{"type", "pvl_mci", "alias",
                                                "PELVARO_MCI"}));
}

TEST(ParseCommand, QuotedWordsKeepBlanksAndCase) {
  winmm::Command c = Parse("open \"My Music/a b.xm\" type \"\" alias x");
  EXPECT_EQ(c.device.text, "My Music/a b.xm");
  EXPECT_TRUE(c.device.quoted);
  ASSERT_EQ(c.words.size(), 4u);
  EXPECT_EQ(c.words[1].text, "");
  EXPECT_TRUE(c.words[1].quoted);
  // A quote ends the word even without a blank after it.
  c = Parse("play \"a\"b");
  EXPECT_EQ(c.device.text, "a");
  EXPECT_EQ(Texts(c), std::vector<std::string>{"b"});
}

TEST(ParseCommand, Failures) {
  winmm::Command c;
  EXPECT_EQ(winmm::ParseCommand("", c), MCIERR_MISSING_COMMAND_STRING);
  EXPECT_EQ(winmm::ParseCommand(" \t ", c), MCIERR_MISSING_COMMAND_STRING);
  EXPECT_EQ(winmm::ParseCommand("play", c), MCIERR_MISSING_DEVICE_NAME);
  EXPECT_EQ(winmm::ParseCommand("open \"no-sn.xm type x", c),
            MCIERR_NO_CLOSING_QUOTE);
  EXPECT_EQ(winmm::ParseCommand("\"", c), MCIERR_NO_CLOSING_QUOTE);
}

TEST(IsKeyword, IgnoresCaseButNotQuotesOrLength) {
  EXPECT_TRUE(winmm::IsKeyword({"ALIAS", false}, "alias"));
  EXPECT_TRUE(winmm::IsKeyword({"Alias", false}, "alias"));
  EXPECT_FALSE(winmm::IsKeyword({"alias", true}, "alias"));
  EXPECT_FALSE(winmm::IsKeyword({"aliases", false}, "alias"));
  EXPECT_FALSE(winmm::IsKeyword({"alia", false}, "alias"));
}

TEST(ParseNumber, PlainDecimalWithin32Bits) {
  std::uint32_t v = 7;
  EXPECT_EQ(winmm::ParseNumber({"0", false}, v), 0u);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(winmm::ParseNumber({"4294967295", false}, v), 0u);
  EXPECT_EQ(v, 4294967295u);
  for (const char* bad : {"4294967296", "99999999999999999999", "", "-1", "+1",
                          "12a", "1.5", " 1"}) {
    EXPECT_EQ(winmm::ParseNumber({bad, false}, v), MCIERR_BAD_INTEGER) << bad;
  }
}

}  // namespace
