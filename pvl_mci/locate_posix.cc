// The platform part of the lookup on Linux: the program's folder is where
// /proc/self/exe leads; a name exists when lstat sees an entry, links that
// lead nowhere included.
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "pvl_mci/locate.h"

namespace pvl {

std::filesystem::path ProgramDir() {
  std::error_code ec;
  const std::filesystem::path exe =
      std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path();
}

bool NameExists(const std::filesystem::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

}  // namespace pvl
