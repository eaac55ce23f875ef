// The program's folder on Linux: where /proc/self/exe leads.
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

}  // namespace pvl
