#include "player/position.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct ParseCase {
  const char* text;
  std::int32_t expected;
};

TEST(ParsePosition, ReadsDecimalMilliseconds) {
  const ParseCase cases[] = {
      {"0", 0},          {"7", 7}, {"83456", 83456}, {"+42", 42},
      {"   1234", 1234}, {"", 0},  {"   ", 0},       {"abc", 0},
      {"+", 0},          {"-", 0}, {"-250", -250},   {"2147483647", 2147483647},
      {"007", 7},
  };
  for (const ParseCase& c : cases)
    EXPECT_EQ(ParsePosition(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParsePosition, StopsAtTheFirstNonDigit) {
  EXPECT_EQ(ParsePosition("1234ms"), 1234);
  EXPECT_EQ(ParsePosition("12 34"), 12);
  EXPECT_EQ(ParsePosition("playing"), 0);
  // Only blanks are skipped at the front, not tabs.
  EXPECT_EQ(ParsePosition("\t5"), 0);
}

TEST(ParsePosition, MinusCountsOnlyWhenTheDigitsRunToTheEnd) {
  EXPECT_EQ(ParsePosition("-250"), -250);
  EXPECT_EQ(ParsePosition("-250x"), 250);
  EXPECT_EQ(ParsePosition("-250 "), 250);
  EXPECT_EQ(ParsePosition(" -9"), -9);
}

TEST(ParsePosition, DollarMeansHexadecimal) {
  EXPECT_EQ(ParsePosition("$ff"), 255);
  EXPECT_EQ(ParsePosition("$FF"), 255);
  EXPECT_EQ(ParsePosition("$1a2B"), 0x1a2b);
  EXPECT_EQ(ParsePosition("$10g"), 16);
  EXPECT_EQ(ParsePosition("$"), 0);
  EXPECT_EQ(ParsePosition("  $7FFFFFFF"), 0x7fffffff);
  // Eight digits from 8 up are a negative 32-bit pattern.
  EXPECT_EQ(ParsePosition("$80000000"), INT32_MIN);
  EXPECT_EQ(ParsePosition("$FFFFFFFF"), -1);
  // A ninth digit is not read.
  EXPECT_EQ(ParsePosition("$123456789"), 0x12345678);
  EXPECT_EQ(ParsePosition("$0FFFFFFFF"),
            static_cast<std::int32_t>(0xFFFFFFFFu));
}

TEST(ParsePosition, NeverPassesTheSignedRange) {
  // A digit after a value above 214748364 is not read.
  EXPECT_EQ(ParsePosition("2147483650"), 214748365);
  EXPECT_EQ(ParsePosition("99999999999"), 999999999);
  // At exactly 214748364 the digit is read while the value still fits.
  EXPECT_EQ(ParsePosition("2147483647"), 2147483647);
  EXPECT_EQ(ParsePosition("2147483648"), 214748364);
  EXPECT_EQ(ParsePosition("-2147483647"), -2147483647);
  // Reading stopped early, so the sign is not applied.
  EXPECT_EQ(ParsePosition("-2147483648"), 214748364);
}

std::string Field(std::int32_t value) {
  char out[4];
  std::size_t n = FieldText(value, out);
  EXPECT_EQ(std::string(out).size(), n);
  return out;
}

TEST(FieldText, TwoDigitsFromZeroUp) {
  EXPECT_EQ(Field(0), "00");
  EXPECT_EQ(Field(7), "07");
  EXPECT_EQ(Field(45), "45");
  EXPECT_EQ(Field(99), "99");
}

TEST(FieldText, NegativeValuesLoseTheirFirstDigit) {
  EXPECT_EQ(Field(-1), "9");
  EXPECT_EQ(Field(-45), "5");
  EXPECT_EQ(Field(-90), "0");
  EXPECT_EQ(Field(-91), "");
  EXPECT_EQ(Field(-99), "");
}

std::string Line(std::int32_t ms) {
  char out[kStatusLineMax + 1];
  std::size_t n = FormatStatusLine(ms, out);
  EXPECT_EQ(std::string(out).size(), n);
  return out;
}

TEST(FormatStatusLine, ShowsMinutesSecondsAndHundredths) {
  EXPECT_EQ(Line(0), "Playing: 00:00.00 ...press a Key to stop.");
  EXPECT_EQ(Line(83456), "Playing: 01:23.45 ...press a Key to stop.");
  EXPECT_EQ(Line(999), "Playing: 00:00.99 ...press a Key to stop.");
  EXPECT_EQ(Line(60000), "Playing: 01:00.00 ...press a Key to stop.");
  EXPECT_EQ(Line(59999), "Playing: 00:59.99 ...press a Key to stop.");
  EXPECT_EQ(Line(0).size(), 41u);
}

TEST(FormatStatusLine, MinutesWrapAtOneHundred) {
  EXPECT_EQ(Line(100 * 60000), "Playing: 00:00.00 ...press a Key to stop.");
  EXPECT_EQ(Line(101 * 60000 + 2000),
            "Playing: 01:02.00 ...press a Key to stop.");
  EXPECT_EQ(Line(INT32_MAX), "Playing: 91:23.64 ...press a Key to stop.");
}

TEST(FormatStatusLine, NegativePositionsGiveShortFields) {
  EXPECT_EQ(Line(-10), "Playing: 00:00.9 ...press a Key to stop.");
  EXPECT_EQ(Line(-61990), "Playing: 9:9. ...press a Key to stop.");
  EXPECT_EQ(Line(INT32_MIN), "Playing: :7.6 ...press a Key to stop.");
}

}  // namespace
