// A directory of the test's own, removed with everything in it afterwards.
#ifndef MCIPLAY_TESTS_SUPPORT_TEST_FILES_H
#define MCIPLAY_TESTS_SUPPORT_TEST_FILES_H

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mciplay-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) path_ = name.data();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name,
                    const std::vector<std::uint8_t>& bytes) const {
    std::string file = File(name);
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

#endif  // MCIPLAY_TESTS_SUPPORT_TEST_FILES_H
