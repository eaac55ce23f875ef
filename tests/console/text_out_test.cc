#include "console/text_out.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_platform.h"

namespace {

class TextOutTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { FlushTextAtExit(); }
};

TEST_F(TextOutTest, OnAConsoleEveryWriteIsOnTheScreenAtOnce) {
  WriteText("open");
  EXPECT_EQ(fake::console().bytes, "open");
  WriteText(" ... ");
  EXPECT_EQ(fake::console().bytes, "open ... ");
  EndLine();
  EXPECT_EQ(fake::console().bytes, "open ... \r\n");
  EXPECT_EQ(fake::console().writes.size(), 3u);
  EXPECT_EQ(fake::Row(0), "open ...");
  EXPECT_EQ(fake::console().y, 1);
  EXPECT_EQ(fake::console().x, 0);
}

TEST_F(TextOutTest, ToAFileTextGoesOutIn128ByteBlocksAndAtEachLineEnd) {
  fake::console().output_is_console = false;
  WriteText(std::string(100, 'a'));
  EXPECT_EQ(fake::console().bytes, "");
  WriteText(std::string(100, 'b'));
  ASSERT_EQ(fake::console().writes.size(), 1u);
  EXPECT_EQ(fake::console().writes[0],
            std::string(100, 'a') + std::string(28, 'b'));
  // A finished line goes out at once, not at exit.
  EndLine();
  ASSERT_EQ(fake::console().writes.size(), 2u);
  EXPECT_EQ(fake::console().writes[1], std::string(72, 'b') + "\r\n");
  WriteText("Press");
  EXPECT_EQ(fake::console().writes.size(), 2u);
  FlushTextAtExit();
  ASSERT_EQ(fake::console().writes.size(), 3u);
  EXPECT_EQ(fake::console().writes[2], "Press");
}

TEST_F(TextOutTest, AFullBufferGoesOutEvenOnAConsoleInOnePiece) {
  WriteText(std::string(300, 'x'));
  ASSERT_EQ(fake::console().writes.size(), 3u);
  EXPECT_EQ(fake::console().writes[0].size(), 128u);
  EXPECT_EQ(fake::console().writes[1].size(), 128u);
  EXPECT_EQ(fake::console().writes[2].size(), 44u);
}

TEST_F(TextOutTest, RepeatedCharactersAreOneWrite) {
  WriteRepeated(' ', 79);
  ASSERT_EQ(fake::console().writes.size(), 1u);
  EXPECT_EQ(fake::console().writes[0], std::string(79, ' '));
}

}  // namespace
