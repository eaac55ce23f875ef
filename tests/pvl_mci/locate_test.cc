// Where the device looks for a file, and the one rule for what it finds: the
// first place where the name exists decides.
#include "pvl_mci/locate.h"
#include "pvl_mci/system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "pvl_mci/open_module.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

TEST(Locate, ProgramDirHoldsThisTest) {
  const fs::path dir = pvl::ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::is_regular_file(dir / "pvl_mci_tests")) << dir;
}

TEST(Locate, RelativeNamesTryHereThenBesideTheProgramThenTheDataDir) {
  std::vector<fs::path> c = pvl::Candidates("no-sn.xm");
  const fs::path dir = pvl::ProgramDir();
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0], "no-sn.xm");
  EXPECT_EQ(c[1], dir / "no-sn.xm");
  EXPECT_EQ(c[2], (dir.parent_path() / "share/mciplay/no-sn.xm"));
  EXPECT_EQ(c[3].string().substr(c[3].string().size() - 17),
            "/mciplay/no-sn.xm");
  EXPECT_EQ(pvl::Candidates("/abs/no-sn.xm"),
            std::vector<fs::path>{"/abs/no-sn.xm"});
  EXPECT_TRUE(pvl::Candidates("").empty());
}

// A name in the current directory of the test, with a playable file of the
// same name beside the program, as the build puts the bundled piece there.
class Lookup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    before_ = fs::current_path();
    fs::current_path(dir_.path());
    beside_ = pvl::ProgramDir() / name_;
    std::ofstream(beside_) << "beside the program";
  }
  void TearDown() override {
    fs::current_path(before_);
    std::error_code ignored;
    fs::remove(beside_, ignored);
  }
  mci::Result Find() {
    found_.clear();
    return pvl::Locate(name_, found_);
  }

  TempDir dir_;
  fs::path before_;
  const std::string name_ = "locate-" + std::to_string(getpid()) + ".xm";
  fs::path beside_;
  fs::path found_;
};

TEST_F(Lookup, AFileHereIsTakenAndNothingHereFallsThrough) {
  std::ofstream(name_) << "here";
  ASSERT_EQ(Find().error, 0u);
  EXPECT_EQ(found_, name_);
  fs::remove(name_);
  ASSERT_EQ(Find().error, 0u);
  EXPECT_EQ(found_, beside_);
  fs::remove(beside_);
  mci::Result r = Find();
  EXPECT_EQ(r.error, MCIERR_FILE_NOT_FOUND);
  EXPECT_EQ(r.text, "");  // the standard text: the file cannot be found
}

TEST_F(Lookup, ALinkToAFileHereIsTaken) {
  fs::create_symlink(beside_, name_);
  ASSERT_EQ(Find().error, 0u);
  EXPECT_EQ(found_, name_);
}

TEST_F(Lookup, WhatCannotBePlayedHereFailsInsteadOfPlayingTheOtherCopy) {
  struct Case {
    const char* what;
    void (*make)(const std::string& name);
    MCIERROR error;
    const char* text;
  };
  const Case cases[] = {
      {"directory", [](const std::string& n) { fs::create_directory(n); },
       MCIERR_FILE_READ, "The file cannot be read: it is a directory."},
      {"link to nothing",
       [](const std::string& n) { fs::create_symlink("nowhere.xm", n); },
       MCIERR_FILE_NOT_FOUND, "The file is a link to nothing."},
      {"named pipe", [](const std::string& n) { mkfifo(n.c_str(), 0600); },
       MCIERR_FILE_READ, "The file cannot be read: it is not a regular file."},
  };
  for (const Case& c : cases) {
    c.make(name_);
    mci::Result r = Find();
    EXPECT_EQ(r.error, c.error) << c.what;
    EXPECT_EQ(r.text, c.text) << c.what;
    EXPECT_TRUE(found_.empty()) << c.what << ": " << found_;
    fs::remove(name_);
  }
}

TEST_F(Lookup, AnUnreadableFileFailsTheReadWithTheReason) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  std::ofstream(name_) << "here";
  fs::permissions(name_, fs::perms::none);
  ASSERT_EQ(Find().error, 0u);
  EXPECT_EQ(found_, name_);
  std::vector<std::uint8_t> data;
  mci::Result r = pvl::ReadModuleFile(found_, data);
  EXPECT_EQ(r.error, MCIERR_FILE_READ);
  EXPECT_EQ(r.text, "The file cannot be read: Permission denied.");
}

}  // namespace
