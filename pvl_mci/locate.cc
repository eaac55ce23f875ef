#include "pvl_mci/locate.h"

#include <system_error>

#include "pvl_mci/system.h"

namespace pvl {

namespace fs = std::filesystem;

std::vector<fs::path> Candidates(const fs::path& element) {
  std::vector<fs::path> list;
  if (element.empty()) return list;
  list.push_back(element);
  if (element.has_root_path()) return list;
  auto add = [&list, &element](const fs::path& dir) {
    if (dir.empty()) return;
    fs::path path = (dir / element).lexically_normal();
    for (const fs::path& p : list)
      if (p == path) return;
    list.push_back(path);
  };
  const fs::path program_dir = ProgramDir();
  add(program_dir);
#ifdef PVL_MCI_DATA_DIR
  if (!program_dir.empty()) add(program_dir / ".." / "share" / "mciplay");
  add(PVL_MCI_DATA_DIR);
#endif
  return list;
}

mci::Result Locate(const fs::path& element, fs::path& found) {
  for (const fs::path& path : Candidates(element)) {
    if (!NameExists(path)) continue;
    std::error_code ec;
    const fs::file_status target = fs::status(path, ec);
    switch (target.type()) {
      case fs::file_type::regular: found = path; return mci::Ok();
      case fs::file_type::not_found:
        return mci::Fail(MCIERR_FILE_NOT_FOUND,
                         "The file is a link to nothing.");
      case fs::file_type::directory:
        return mci::Fail(MCIERR_FILE_READ,
                         "The file cannot be read: it is a directory.");
      case fs::file_type::none:
        return mci::Fail(MCIERR_FILE_READ,
                         "The file cannot be read: " + ec.message() + ".");
      default:
        return mci::Fail(MCIERR_FILE_READ,
                         "The file cannot be read: it is not a regular file.");
    }
  }
  return mci::Fail(MCIERR_FILE_NOT_FOUND);
}

}  // namespace pvl
