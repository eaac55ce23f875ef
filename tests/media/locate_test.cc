#include "pvl_mci/locate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "temp_dir.h"

namespace {

TEST(Locate, ExecutableDirHoldsThisTest) {
  const std::string dir = pvl::ExecutableDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/media_tests")) << dir;
}

TEST(Locate, RelativeNamesTryHereThenBesideTheProgramThenTheDataDir) {
  std::vector<std::string> c = pvl::Candidates("no-sn.xm");
  const std::string dir = pvl::ExecutableDir();
  ASSERT_GE(c.size(), 3u);
  EXPECT_EQ(c[0], "no-sn.xm");
  EXPECT_EQ(c[1], dir + "/no-sn.xm");
  EXPECT_EQ(c[2], dir + "/../share/mciplay/no-sn.xm");
  EXPECT_EQ(c.back().substr(c.back().size() - 17), "/mciplay/no-sn.xm");
  EXPECT_EQ(pvl::Candidates("/abs/no-sn.xm"),
            std::vector<std::string>{"/abs/no-sn.xm"});
  EXPECT_TRUE(pvl::Candidates("").empty());
}

TEST(Locate, FindsFilesInTheCurrentDirectoryAndSkipsDirectories) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  dir.Write("piece.xm", {1, 2, 3});
  std::filesystem::create_directory(dir.File("folder.xm"));
  EXPECT_EQ(pvl::Locate("piece.xm"), "piece.xm");
  EXPECT_EQ(pvl::Locate(dir.File("piece.xm")), dir.File("piece.xm"));
  EXPECT_EQ(pvl::Locate("folder.xm"), "");
  EXPECT_EQ(pvl::Locate("missing.xm"), "");
  std::filesystem::current_path(before);
}

}  // namespace
