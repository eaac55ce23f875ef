#include "pvl_mci/locate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace pvl {

std::string ExecutableDir() {
  std::vector<char> path(4096);
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  std::string exe(path.data(), static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  return exe.substr(0, slash == 0 ? 1 : slash);
}

std::vector<std::string> Candidates(std::string_view element) {
  std::vector<std::string> list;
  if (element.empty()) return list;
  list.emplace_back(element);
  if (element.front() == '/') return list;
  auto add = [&list, element](const std::string& dir) {
    if (dir.empty()) return;
    std::string path = dir.back() == '/' ? dir : dir + "/";
    path += element;
    for (const std::string& p : list)
      if (p == path) return;
    list.push_back(path);
  };
  const std::string exe_dir = ExecutableDir();
  add(exe_dir);
  if (!exe_dir.empty()) add(exe_dir + "/../share/mciplay");
#ifdef PVL_MCI_DATA_DIR
  add(PVL_MCI_DATA_DIR);
#endif
  return list;
}

std::string Locate(std::string_view element) {
  for (const std::string& path : Candidates(element)) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return {};
}

}  // namespace pvl
