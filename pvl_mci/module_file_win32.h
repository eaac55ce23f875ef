// The full path of a module's file (nullptr: the process's .exe), however
// long; empty if Windows cannot say.
#ifndef MCIPLAY_PVL_MCI_MODULE_FILE_WIN32_H
#define MCIPLAY_PVL_MCI_MODULE_FILE_WIN32_H

#include <windows.h>

#include <string>

namespace pvl {

inline std::wstring ModuleFile(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(),
                                       static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_MODULE_FILE_WIN32_H
