// regsvr32's entry points: make this DLL the media driver of the device type
// "pvl_mci", and take it away again. The value goes under the key where this
// system's media-control service looks for installable drivers: MCI32 on
// Windows, MCI under Wine (which does not read MCI32).
//
// winmm reads that value only up to its first blank: the rest is taken as
// parameters for the driver. A path with a space is therefore registered
// by its short (8.3) form, which has none where the volume keeps short
// names; where it still has one, or is longer than the 127 characters
// winmm reads, registration fails rather than write a value no open can
// use.
//
// Registration also makes the module files' extensions open with this
// device by themselves (open song.it, without type), under "MCI
// Extensions", where no other driver has claimed them; unregistering
// removes only the extensions that name this device.
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

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

constexpr wchar_t kExtensionsKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\MCI Extensions";
// The module formats libopenmpt plays that are met most often.
constexpr const wchar_t* kExtensions[] = {
    L"xm",  L"mod", L"s3m", L"it",  L"mptm", L"stm", L"669", L"mtm",
    L"med", L"okt", L"far", L"mdl", L"ult",  L"ptm", L"umx"};
// winmm reads at most this many characters of a driver's value.
constexpr std::size_t kMaxValueChars = 127;

// The full path of this DLL, empty if unknown.
std::wstring ThisDll() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&DriversKey), &self))
    return {};
  return pvl::ModuleFile(self);
}

// The value winmm can load this DLL by: its path, or the short form of it
// when the path holds a blank. Empty, with the error set, when neither is.
std::wstring LoadableName() {
  std::wstring dll = ThisDll();
  if (dll.empty()) return {};
  if (dll.find(L' ') != std::wstring::npos) {
    std::wstring short_path(dll.size() + 1, L'\0');
    const DWORD n = GetShortPathNameW(dll.c_str(), short_path.data(),
                                      static_cast<DWORD>(short_path.size()));
    if (n == 0 || n >= short_path.size()) return {};
    short_path.resize(n);
    dll = short_path;
  }
  if (dll.find(L' ') != std::wstring::npos || dll.size() > kMaxValueChars) {
    SetLastError(ERROR_BAD_PATHNAME);
    return {};
  }
  return dll;
}

LSTATUS SetText(HKEY key, const std::wstring& name, const std::wstring& text) {
  return RegSetValueExW(
      key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The text of the value `name`, or empty where there is none.
std::wstring TextOf(HKEY key, const wchar_t* name) {
  wchar_t text[256] = L"";
  DWORD bytes = sizeof text - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  text[bytes / sizeof(wchar_t)] = L'\0';
  return text;
}

bool NamesThisDevice(const std::wstring& text) {
  return CompareStringOrdinal(text.c_str(), -1, ValueName().c_str(), -1,
                              TRUE) == CSTR_EQUAL;
}

HRESULT RegisterExtensions() {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                      nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  for (const wchar_t* extension : kExtensions) {
    if (!TextOf(key, extension).empty()) continue;  // another's, or ours
    status = SetText(key, extension, ValueName());
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterExtensions() {
  HKEY key = nullptr;
  LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kExtensionsKey, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  for (const wchar_t* extension : kExtensions) {
    if (!NamesThisDevice(TextOf(key, extension))) continue;
    status = RegDeleteValueW(key, extension);
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  return HRESULT_FROM_WIN32(status);
}

HRESULT Register() {
  const std::wstring dll = LoadableName();
  if (dll.empty()) return HRESULT_FROM_WIN32(GetLastError());
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriversKey(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = SetText(key, ValueName(), dll);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  return RegisterExtensions();
}

HRESULT Unregister() {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, DriversKey(), 0,
                                 KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key, ValueName().c_str());
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return HRESULT_FROM_WIN32(status);
  return UnregisterExtensions();
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
