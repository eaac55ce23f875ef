// The platform part of the lookup on Windows: the program's folder is that of
// the .exe of the process, the program that opened the device (not this
// driver's folder); a name exists when it has attributes, which Windows gives
// a link itself without following it.
#include <windows.h>

#include <string>

#include "pvl_mci/locate.h"
#include "pvl_mci/module_file_win32.h"

namespace pvl {

std::filesystem::path ProgramDir() {
  return std::filesystem::path(ModuleFile(nullptr)).parent_path();
}

bool NameExists(const std::filesystem::path& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
         error != ERROR_INVALID_NAME;
}

}  // namespace pvl
