// The program's folder on Windows: that of the .exe of the process, which is
// the program that opened the device (not this driver's folder).
#include <windows.h>

#include <string>

#include "pvl_mci/locate.h"

namespace pvl {

std::filesystem::path ProgramDir() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, name.data(),
                                       static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);
  }
  return std::filesystem::path(name).parent_path();
}

}  // namespace pvl
