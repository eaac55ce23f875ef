#include "player/mci_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/text_out.h"
#include "tests/support/fake_platform.h"

namespace {

class SendCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override { FlushTextAtExit(); }
};

TEST_F(SendCommandTest, SuccessPrintsTheCommandAndOkOnOneLine) {
  fake::media().handler = [](const std::string&, char* reply, UINT length) {
    fake::Reply(reply, length, "ignored");
    return MCIERROR{0};
  };
  EXPECT_TRUE(SendCommand("play PELVARO_MCI"));
  EXPECT_EQ(fake::console().bytes, "play PELVARO_MCI ...  ok.\r\n");
  EXPECT_EQ(fake::media().commands,
            (std::vector<std::string>{"play PELVARO_MCI"}));
}

TEST_F(SendCommandTest, FailurePrintsTheReplyAfterError) {
  fake::media().handler = [](const std::string&, char* reply, UINT length) {
    fake::Reply(reply, length, "The specified device is not open.");
    return MCIERROR{MCIERR_INVALID_DEVICE_NAME};
  };
  EXPECT_FALSE(SendCommand("close PELVARO_MCI"));
  EXPECT_EQ(fake::console().bytes,
            "close PELVARO_MCI ...  Error: The specified device is not "
            "open.\r\n");
}

TEST_F(SendCommandTest, FailureWithAnEmptyReplyShowsTheServicesTextForIt) {
  // As Windows' service does: the reply holds only a NUL.
  fake::media().handler = [](const std::string&, char* reply, UINT length) {
    fake::Reply(reply, length, "");
    return MCIERROR{MCIERR_FILE_NOT_FOUND};
  };
  fake::media().error_texts = {
      {MCIERR_INVALID_FILE, "Not this one."},
      {MCIERR_FILE_NOT_FOUND, "The file cannot be found."}};
  EXPECT_FALSE(SendCommand("open x"));
  EXPECT_EQ(fake::console().bytes,
            "open x ...  Error: The file cannot be found.\r\n");
}

TEST_F(SendCommandTest, TheServicesTextIsShownWholePast80Characters) {
  // Windows' texts for a damaged file or a folder run past a reply buffer.
  const std::string text =
      "The specified file cannot be played on the specified MCI device. The "
      "file may be corrupt, not in the correct format, or no file handler "
      "available for this format.";
  fake::media().handler = [](const std::string&, char* reply, UINT length) {
    fake::Reply(reply, length, "");
    return MCIERROR{MCIERR_INVALID_FILE};
  };
  fake::media().error_texts = {{MCIERR_INVALID_FILE, text}};
  EXPECT_FALSE(SendCommand("open x"));
  EXPECT_EQ(fake::console().bytes, "open x ...  Error: " + text + "\r\n");
}

TEST_F(SendCommandTest, FailureWithNoTextAnywhereEndsTheLineAfterError) {
  // Neither the reply nor the service says why; the number is not shown.
  fake::media().handler = [](const std::string&, char* reply, UINT length) {
    fake::Reply(reply, length, "");
    return MCIERROR{1};
  };
  EXPECT_FALSE(SendCommand("open x"));
  EXPECT_EQ(fake::console().bytes, "open x ...  Error: \r\n");
}

TEST_F(SendCommandTest, AReplyLeftUntouchedReadsAsEmpty) {
  // The first call leaves text behind in the caller's memory; the second
  // fails without writing anything and must not show stale bytes.
  fake::media().handler = [](const std::string& command, char* reply,
                             UINT length) {
    if (command == "first") {
      fake::Reply(reply, length, "left over");
      return MCIERROR{1};
    }
    return MCIERROR{1};
  };
  EXPECT_FALSE(SendCommand("first"));
  EXPECT_FALSE(SendCommand("second"));
  EXPECT_EQ(fake::console().bytes,
            "first ...  Error: left over\r\nsecond ...  Error: \r\n");
}

TEST_F(SendCommandTest, AReplyWithoutNulShowsExactly81Characters) {
  const std::string full =
      std::string(40, 'a') + std::string(41, 'b');  // 81 characters
  UINT seen_length = 0;
  fake::media().handler = [&](const std::string&, char* reply, UINT length) {
    seen_length = length;
    std::memcpy(reply, full.data(), 81);
    return MCIERROR{1};
  };
  EXPECT_FALSE(SendCommand("status PELVARO_MCI length"));
  EXPECT_EQ(seen_length, 81u);
  EXPECT_EQ(fake::console().bytes,
            "status PELVARO_MCI length ...  Error: " + full + "\r\n");
}

TEST_F(SendCommandTest, TheEchoIsOnTheScreenBeforeTheDeviceIsAsked) {
  std::string on_screen;
  fake::media().handler = [&](const std::string&, char*, UINT) {
    on_screen = fake::Row(0);
    return MCIERROR{0};
  };
  EXPECT_TRUE(SendCommand("open no-sn.xm type pvl_mci alias PELVARO_MCI"));
  EXPECT_EQ(on_screen, "open no-sn.xm type pvl_mci alias PELVARO_MCI ...");
}

TEST(ReplyText, StopsAtTheFirstNulOrAfter81Characters) {
  char reply[kReplyLength];
  std::memset(reply, 'z', sizeof reply);
  EXPECT_EQ(ReplyText(reply).size(), 81u);
  reply[5] = '\0';
  EXPECT_EQ(ReplyText(reply), "zzzzz");
}

}  // namespace
