// Files of a test's own: a directory removed with everything in it
// afterwards, and the reading of what a program wrote.
#ifndef MCIPLAY_TESTS_SUPPORT_TEST_FILES_H
#define MCIPLAY_TESTS_SUPPORT_TEST_FILES_H

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

class TempDir {
 public:
  // A new directory in `root`, or in the system's temporary directory.
  explicit TempDir(const std::filesystem::path& root =
                       std::filesystem::temp_directory_path()) {
    std::string pattern = (root / "mciplay-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the directory could not be made.
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const {
    return (path_ / name).string();
  }
  std::string Write(const std::string& name,
                    const std::vector<std::uint8_t>& bytes) const {
    std::string file = File(name);
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::filesystem::path path_;
};

// The whole file, or empty when there is none.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `text` cut at its line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

#endif  // MCIPLAY_TESTS_SUPPORT_TEST_FILES_H
