// The service over a scripted driver: the table of devices by alias, the
// command keywords it hands on, and the reply buffer.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "mci/device.h"
#include "winmm/service.h"

namespace {

// What the scripted devices were asked, in order, across all of them.
struct Script {
  std::vector<std::string> calls;
  int open_devices = 0;
  std::string last_element;
  mci::Mode mode = mci::Mode::kStopped;
  int playing_polls = 0;  // mode queries answered "playing" after a play
  mci::Result next_open;  // what the next open gives
};

Script* g_script = nullptr;

class ScriptedDevice final : public mci::Device {
 public:
  ScriptedDevice() { ++g_script->open_devices; }
  ~ScriptedDevice() override { --g_script->open_devices; }
  mci::Result Play(std::optional<std::uint32_t> from,
                   std::optional<std::uint32_t> to, mci::Notify) override {
    g_script->calls.push_back("play " + (from ? std::to_string(*from) : "-") +
                              " " + (to ? std::to_string(*to) : "-"));
    return {};
  }
  mci::Result Stop() override { return Record("stop"); }
  mci::Result Pause() override { return Record("pause"); }
  mci::Result Resume() override { return Record("resume"); }
  mci::Result Seek(std::uint32_t p) override {
    return Record("seek " + std::to_string(p));
  }
  mci::Mode GetMode() override {
    if (g_script->playing_polls > 0) {
      --g_script->playing_polls;
      return mci::Mode::kPlaying;
    }
    return g_script->mode;
  }
  std::uint32_t Position() override { return 1234; }
  std::uint32_t Length() override { return 5000; }
  mci::Notify TakeNotify() override { return nullptr; }
  std::string Product() override { return "scripted device"; }

 private:
  static mci::Result Record(std::string call) {
    g_script->calls.push_back(std::move(call));
    return {};
  }
};

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script = &script_;
    winmm::AddDeviceType("Scripted", [](std::string_view element,
                                        std::unique_ptr<mci::Device>& device) {
      g_script->last_element = std::string(element);
      mci::Result r = g_script->next_open;
      if (r.error == 0) device = std::make_unique<ScriptedDevice>();
      return r;
    });
  }
  void TearDown() override {
    mciSendStringA("close all", nullptr, 0, nullptr);
    winmm::RemoveDeviceType("scripted");
    EXPECT_EQ(script_.open_devices, 0);
    g_script = nullptr;
  }

  // Sends `command`; returns the result and leaves the reply in reply_.
  MCIERROR Send(const std::string& command) {
    std::memset(reply_, 'x', sizeof reply_);
    return mciSendStringA(command.c_str(), reply_, 81, nullptr);
  }
  std::string Reply() const { return std::string(reply_); }

  Script script_;
  char reply_[81];
};

TEST_F(Service, OpenedAliasNamesTheDeviceInAnyCase) {
  ASSERT_EQ(Send("open no-sn.xm type scripted alias PELVARO_MCI"), 0u);
  EXPECT_EQ(script_.last_element, "no-sn.xm");
  EXPECT_EQ(Send("status pelvaro_mci mode"), 0u);
  EXPECT_EQ(Reply(), "stopped");
  EXPECT_EQ(Send("STATUS Pelvaro_Mci POSITION"), 0u);
  EXPECT_EQ(Reply(), "1234");
  EXPECT_EQ(Send("status PELVARO_MCI length"), 0u);
  EXPECT_EQ(Reply(), "5000");
  EXPECT_EQ(Send("status PELVARO_MCI ready"), 0u);
  EXPECT_EQ(Reply(), "true");
  EXPECT_EQ(Send("set PELVARO_MCI time format ms"), 0u);
  EXPECT_EQ(Send("set PELVARO_MCI time format milliseconds wait"), 0u);
  EXPECT_EQ(Send("status PELVARO_MCI time format"), 0u);
  EXPECT_EQ(Reply(), "milliseconds");
  EXPECT_EQ(Send("close PELVARO_MCI"), 0u);
  EXPECT_EQ(script_.open_devices, 0);
  EXPECT_EQ(Send("status PELVARO_MCI mode"), MCIERR_INVALID_DEVICE_NAME);
}

TEST_F(Service, AliasesAndElementNamesAreUniqueAmongOpenDevices) {
  ASSERT_EQ(Send("open a.xm type scripted alias one"), 0u);
  EXPECT_EQ(Send("open b.xm type scripted alias ONE"), MCIERR_DUPLICATE_ALIAS);
  EXPECT_EQ(Reply(), "The alias is already in use.");
  // Without an alias the element name is the device's name.
  ASSERT_EQ(Send("open b.xm type scripted"), 0u);
  EXPECT_EQ(Send("status b.xm mode"), 0u);
  EXPECT_EQ(Send("open B.XM type scripted"), MCIERR_DEVICE_OPEN);
  EXPECT_EQ(script_.open_devices, 2);
  // Each open replies the device's number; no two are the same.
  ASSERT_EQ(Send("open c.xm type scripted alias two"), 0u);
  std::string id_two = Reply();
  ASSERT_EQ(Send("open d.xm type scripted alias three"), 0u);
  EXPECT_NE(Reply(), id_two);
  EXPECT_FALSE(id_two.empty());
}

TEST_F(Service, CloseAllClosesEveryDevice) {
  ASSERT_EQ(Send("open a.xm type scripted alias one"), 0u);
  ASSERT_EQ(Send("open b.xm type scripted alias two"), 0u);
  ASSERT_EQ(script_.open_devices, 2);
  EXPECT_EQ(Send("close all"), 0u);
  EXPECT_EQ(script_.open_devices, 0);
  EXPECT_EQ(Send("status one mode"), MCIERR_INVALID_DEVICE_NAME);
  EXPECT_EQ(Send("status two mode"), MCIERR_INVALID_DEVICE_NAME);
  // Both names are free again.
  EXPECT_EQ(Send("open c.xm type scripted alias one"), 0u);
  // "all" only goes with close.
  EXPECT_EQ(Send("play all"), MCIERR_CANNOT_USE_ALL);
}

TEST_F(Service, QuotedElementReachesTheDriverWhole) {
  ASSERT_EQ(Send("open \"My Music/the piece.xm\" type scripted alias \"x y\""),
            0u);
  EXPECT_EQ(script_.last_element, "My Music/the piece.xm");
  EXPECT_EQ(Send("status \"x y\" mode"), 0u);
  EXPECT_EQ(Send("open \"unclosed type scripted"), MCIERR_NO_CLOSING_QUOTE);
}

TEST_F(Service, OpenFailures) {
  EXPECT_EQ(Send("open no-sn.xm type nothing alias a"),
            MCIERR_DEVICE_NOT_INSTALLED);
  EXPECT_EQ(Reply(), "The device type is not installed.");
  EXPECT_EQ(Send("open no-sn.xm alias a"), MCIERR_EXTENSION_NOT_FOUND);
  EXPECT_EQ(Send("open scripted alias a"), MCIERR_FILENAME_REQUIRED);
  EXPECT_EQ(Send("open a.xm type"), MCIERR_MISSING_STRING_ARGUMENT);
  EXPECT_EQ(Send("open a.xm type scripted alias"),
            MCIERR_MISSING_STRING_ARGUMENT);
  EXPECT_EQ(Send("open a.xm type scripted type scripted"),
            MCIERR_DUPLICATE_FLAGS);
  EXPECT_EQ(Send("open a.xm type scripted shiny"), MCIERR_UNRECOGNIZED_KEYWORD);

  // The driver's own wording reaches the reply; without it, the standard text.
  script_.next_open =
      mci::Fail(MCIERR_INVALID_FILE, "Not a module: bad header.");
  EXPECT_EQ(Send("open a.xm type scripted alias a"), MCIERR_INVALID_FILE);
  EXPECT_EQ(Reply(), "Not a module: bad header.");
  script_.next_open = mci::Fail(MCIERR_FILE_NOT_FOUND);
  EXPECT_EQ(Send("open a.xm type scripted alias a"), MCIERR_FILE_NOT_FOUND);
  EXPECT_EQ(Reply(), "The file cannot be found.");
  // A failed open leaves the alias free.
  script_.next_open = {};
  EXPECT_EQ(Send("open a.xm type scripted alias a"), 0u);
  EXPECT_EQ(script_.open_devices, 1);
}

TEST_F(Service, CommandsOnAnAliasThatIsNotOpen) {
  for (const char* c :
       {"play nobody", "stop nobody", "pause nobody", "resume nobody",
        "seek nobody to start", "set nobody time format ms",
        "status nobody mode", "close nobody"}) {
    EXPECT_EQ(Send(c), MCIERR_INVALID_DEVICE_NAME) << c;
    EXPECT_EQ(Reply(), "The device is not open or its name is not known.") << c;
  }
}

TEST_F(Service, PlaybackCommandsReachTheDevice) {
  ASSERT_EQ(Send("open a.xm type scripted alias d"), 0u);
  EXPECT_EQ(Send("play d"), 0u);
  EXPECT_EQ(Send("play d from 100 to 4000"), 0u);
  EXPECT_EQ(Send("play d to 5000"), 0u);
  EXPECT_EQ(Send("pause d"), 0u);
  EXPECT_EQ(Send("resume d"), 0u);
  EXPECT_EQ(Send("stop d wait"), 0u);
  EXPECT_EQ(Send("seek d to start"), 0u);
  EXPECT_EQ(Send("seek d to end"), 0u);
  EXPECT_EQ(Send("seek d to 2500"), 0u);
  EXPECT_EQ(script_.calls,
            (std::vector<std::string>{"play - -", "play 100 4000",
                                      "play - 5000", "pause", "resume", "stop",
                                      "seek 0", "seek 5000", "seek 2500"}));
}

TEST_F(Service, BadKeywordsAndValues) {
  ASSERT_EQ(Send("open a.xm type scripted alias d"), 0u);
  EXPECT_EQ(Send("dance d"), MCIERR_UNRECOGNIZED_COMMAND);
  EXPECT_EQ(Send("play d loudly"), MCIERR_UNRECOGNIZED_KEYWORD);
  EXPECT_EQ(Send("play d from"), MCIERR_MISSING_PARAMETER);
  EXPECT_EQ(Send("play d from soon"), MCIERR_BAD_INTEGER);
  EXPECT_EQ(Send("play d from 6000"), MCIERR_OUTOFRANGE);
  EXPECT_EQ(Send("play d from 3000 to 2000"), MCIERR_OUTOFRANGE);
  EXPECT_EQ(Send("play d from 1 from 2"), MCIERR_DUPLICATE_FLAGS);
  EXPECT_EQ(Send("seek d"), MCIERR_MISSING_PARAMETER);
  EXPECT_EQ(Send("seek d to 5001"), MCIERR_OUTOFRANGE);
  EXPECT_EQ(Send("set d time format frames"), MCIERR_BAD_TIME_FORMAT);
  EXPECT_EQ(Send("set d time format"), MCIERR_MISSING_PARAMETER);
  EXPECT_EQ(Send("set d"), MCIERR_MISSING_PARAMETER);
  EXPECT_EQ(Send("set d volume 5"), MCIERR_UNRECOGNIZED_KEYWORD);
  EXPECT_EQ(Send("status d"), MCIERR_MISSING_PARAMETER);
  EXPECT_EQ(Send("status d colour"), MCIERR_UNRECOGNIZED_KEYWORD);
  EXPECT_EQ(Send("status d mode position"), MCIERR_FLAGS_NOT_COMPATIBLE);
  EXPECT_EQ(Send("stop d now"), MCIERR_UNRECOGNIZED_KEYWORD);
  // None of them reached the device.
  EXPECT_TRUE(script_.calls.empty());
}

// There is no window to post to: notify is taken with every command, which
// is carried out as without it.
TEST_F(Service, NotifyIsTakenWithEveryCommand) {
  for (const char* c :
       {"open a.xm type scripted alias d notify", "play d notify",
        "pause d notify", "resume d wait notify", "stop d notify",
        "seek d to start notify", "status d mode notify",
        "set d time format ms notify", "capability d can play notify",
        "info d product notify", "close d notify"})
    EXPECT_EQ(Send(c), 0u) << c;
  EXPECT_EQ(script_.calls,
            (std::vector<std::string>{"play - -", "pause", "resume", "stop",
                                      "seek 0"}));
  EXPECT_EQ(script_.open_devices, 0);
}

// What other programs ask of a device, answered as Windows' service does
// for our driver.
TEST_F(Service, CapabilityInfoAndStatusItems) {
  ASSERT_EQ(Send("open Songs/a.xm type scripted alias d"), 0u);
  const std::pair<const char*, const char*> answers[] = {
      {"capability d can play", "true"},
      {"capability d can record", "false"},
      {"capability d can save", "false"},
      {"capability d can eject", "false"},
      {"capability d device type", "other"},
      {"capability d has audio", "true"},
      {"capability d has video", "false"},
      {"capability d uses files", "true"},
      {"capability d compound device", "true"},
      {"info d product", "scripted device"},
      {"info d file", "Songs/a.xm"},
      {"status d number of tracks", "1"},
      {"status d current track", "1"},
      {"status d media present", "true"},
      {"status d position start", "0"},
      {"status d position track 1", "0"},
      {"status d length track 1", "5000"},
  };
  for (const auto& [command, reply] : answers) {
    EXPECT_EQ(Send(command), 0u) << command;
    EXPECT_EQ(Reply(), reply) << command;
  }
  const std::pair<const char*, MCIERROR> errors[] = {
      {"capability d", MCIERR_MISSING_PARAMETER},
      {"capability d can fly", MCIERR_UNRECOGNIZED_KEYWORD},
      {"capability d can play has audio", MCIERR_FLAGS_NOT_COMPATIBLE},
      {"info d", MCIERR_MISSING_PARAMETER},
      {"info d product file", MCIERR_FLAGS_NOT_COMPATIBLE},
      {"status d number of", MCIERR_UNRECOGNIZED_KEYWORD},
      {"status d position track 2", MCIERR_OUTOFRANGE},
      {"status d position start track 1", MCIERR_FLAGS_NOT_COMPATIBLE},
  };
  for (const auto& [command, error] : errors)
    EXPECT_EQ(Send(command), error) << command;
}

TEST_F(Service, PlayWaitReturnsOnceTheDeviceStopsPlaying) {
  ASSERT_EQ(Send("open a.xm type scripted alias d"), 0u);
  script_.playing_polls = 3;
  EXPECT_EQ(Send("play d wait"), 0u);
  EXPECT_EQ(script_.playing_polls, 0);
}

TEST_F(Service, ReplyNeverPassesItsLengthAndIsAlwaysTerminated) {
  ASSERT_EQ(
      mciSendStringA("open a.xm type scripted alias d", nullptr, 0, nullptr),
      0u);
  char buffer[16];
  // "stopped" does not fit 5 characters: the command fails, and the error's
  // text is cut to 4 and the NUL, the rest untouched.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(mciSendStringA("status d mode", buffer, 5, nullptr),
            MCIERR_PARAM_OVERFLOW);
  EXPECT_STREQ(buffer, "The ");
  EXPECT_EQ(buffer[5], '#');
  // Error texts are cut the same way.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(mciSendStringA("status nobody mode", buffer, 8, nullptr),
            MCIERR_INVALID_DEVICE_NAME);
  EXPECT_STREQ(buffer, "The dev");
  EXPECT_EQ(buffer[8], '#');
  // Room for the NUL only.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(mciSendStringA("status d mode", buffer, 1, nullptr),
            MCIERR_PARAM_OVERFLOW);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
  // Length 0: nothing written. A null buffer: no reply asked for.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(mciSendStringA("status d mode", buffer, 0, nullptr),
            MCIERR_PARAM_OVERFLOW);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(mciSendStringA("status d colour", nullptr, 81, nullptr),
            MCIERR_UNRECOGNIZED_KEYWORD);
  // A command that replies nothing leaves an empty text.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(mciSendStringA("stop d", buffer, sizeof buffer, nullptr), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(Service, NoCommandStringCrashesIt) {
  ASSERT_EQ(Send("open a.xm type scripted alias d"), 0u);
  EXPECT_EQ(mciSendStringA(nullptr, reply_, 81, nullptr),
            MCIERR_MISSING_COMMAND_STRING);
  EXPECT_EQ(Send(std::string(100000, 'a')), MCIERR_MISSING_DEVICE_NAME);
  EXPECT_EQ(Send("play " + std::string(100000, 'd')),
            MCIERR_INVALID_DEVICE_NAME);
  // Random commands from the service's own words and some noise: every one
  // answers with a terminated reply within its buffer.
  const char* words[] = {
      "open",     "close",       "play",   "stop",  "pause",    "resume",
      "seek",     "set",         "status", "d",     "all",      "type",
      "alias",    "scripted",    "from",   "to",    "start",    "end",
      "time",     "format",      "ms",     "mode",  "position", "length",
      "wait",     "notify",      "\"",     "\"d\"", "12",       "-1",
      "\x01\xff", "99999999999", ""};
  std::uint32_t seed = 12345;
  char small[7];
  for (int i = 0; i < 3000; ++i) {
    std::string command;
    int n = static_cast<int>((seed >> 16) % 7);
    for (int k = 0; k < n; ++k) {
      seed = seed * 1103515245u + 12345u;
      command += words[(seed >> 16) % (sizeof words / sizeof *words)];
      command += (seed & 0x100) ? " " : "\t";
    }
    seed = seed * 1103515245u + 12345u;
    std::memset(small, '#', sizeof small);
    mciSendStringA(command.c_str(), small, 6, nullptr);
    EXPECT_NE(std::memchr(small, '\0', 6), nullptr) << command;
    EXPECT_EQ(small[6], '#') << command;
  }
}

TEST(ErrorString, TextsOfKnownNumbersOnly) {
  char buffer[81];
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_FILE_NOT_FOUND, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "The file cannot be found.");
  EXPECT_TRUE(mciGetErrorStringA(MCIERR_INVALID_FILE, buffer, 4));
  EXPECT_STREQ(buffer, "The");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(mciGetErrorStringA(0, buffer, sizeof buffer));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_FALSE(mciGetErrorStringA(MCIERR_BASE + 999, nullptr, 0));
}

}  // namespace
