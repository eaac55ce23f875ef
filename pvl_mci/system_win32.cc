// The device on Windows: the program's folder is that of the .exe of the
// process, the program that opened the device (not this driver's folder); a
// name exists when it has attributes, which Windows gives a link itself
// without following it; threads take no signals, Windows sends none to
// them; the sound goes through waveOut.
#include "pvl_mci/system.h"

#include <windows.h>

#include <string>

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

void StartThreadsWithoutSignals(const std::function<void()>& start) { start(); }

// The render thread goes by a name where the system keeps one (Windows 10
// on): debuggers show it, and Wine passes it on to the system's thread,
// where the Wine tests find it.
void NameThisThread() {
  using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel != nullptr
                      ? GetProcAddress(kernel, "SetThreadDescription")
                      : nullptr;
  if (found != nullptr)
    reinterpret_cast<Describe>(reinterpret_cast<void*>(found))(
        GetCurrentThread(), L"pvl_mci render");
}

std::thread StartRenderThread(std::function<void()> body) {
  return std::thread([body = std::move(body)] {
    NameThisThread();
    body();
  });
}

// waveOut's default device is there or not: nothing to watch for.
std::function<bool()> WatchForServers() { return {}; }

const std::vector<OutputKind>& SoundOutputs() {
  static const std::vector<OutputKind> kinds = {{"waveout", &OpenWaveOutput}};
  return kinds;
}

}  // namespace pvl
