// regsvr32's entry points: make this DLL the media driver of the device type
// "pvl_mci", and take it away again. The value goes under the key where this
// system's media-control service looks for installable drivers: MCI32 on
// Windows, MCI under Wine (which does not read MCI32).
#include <windows.h>

#include <iterator>
#include <string>

#include "pvl_mci/module_file_win32.h"
#include "pvl_mci/open_module.h"

namespace {

constexpr wchar_t kWindowsKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\MCI32";
constexpr wchar_t kWineKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\MCI";

// The value's name: the device type.
std::wstring ValueName() {
  return std::wstring(std::begin(pvl::kDeviceType),
                      std::end(pvl::kDeviceType) - 1);
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const wchar_t* DriversKey() { return UnderWine() ? kWineKey : kWindowsKey; }

// The full path of this DLL, empty if unknown.
std::wstring ThisDll() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&DriversKey), &self))
    return {};
  return pvl::ModuleFile(self);
}

HRESULT Register() {
  const std::wstring dll = ThisDll();
  if (dll.empty()) return HRESULT_FROM_WIN32(GetLastError());
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriversKey(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status =
      RegSetValueExW(key, ValueName().c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(dll.c_str()),
                     static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(status);
}

HRESULT Unregister() {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, DriversKey(), 0,
                                 KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = RegDeleteValueW(key, ValueName().c_str());
  RegCloseKey(key);
  return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer() {
  try {
    return Register();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  try {
    return Unregister();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
