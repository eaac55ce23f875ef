// mciSendStringA and mciGetErrorStringA: the media-control string service.
// Each command is parsed (parse.h), its verb read and carried out
// (verbs.h) on the table of device types and open devices (devices.h).
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "winmm/devices.h"
#include "winmm/errors.h"
#include "winmm/parse.h"
#include "winmm/service.h"
#include "winmm/verbs.h"

namespace winmm {
namespace {

// Copies `text` into the caller's buffer: never more than `length`
// characters, always ending with a NUL within them.
void Reply(LPSTR buffer, UINT length, std::string_view text) {
  if (buffer == nullptr || length == 0) return;
  std::size_t n = text.size() < length - 1 ? text.size() : length - 1;
  if (n > 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

void AddDeviceType(std::string_view type, OpenFunction open) {
  TheDevices().AddType(type, std::move(open));
}

void RemoveDeviceType(std::string_view type) { TheDevices().RemoveType(type); }

}  // namespace winmm

extern "C" MCIERROR WINAPI mciSendStringA(LPCSTR lpstrCommand,
                                          LPSTR lpstrReturnString,
                                          UINT uReturnLength,
                                          HWND hwndCallback) {
  (void)hwndCallback;  // no window to post a notification to (verbs.cc)
  winmm::Result result;
  try {
    winmm::Command command;
    MCIERROR e = lpstrCommand == nullptr
                     ? MCIERROR{MCIERR_MISSING_COMMAND_STRING}
                     : winmm::ParseCommand(lpstrCommand, command);
    result =
        e != 0 ? mci::Fail(e) : winmm::Execute(winmm::TheDevices(), command);
  } catch (const std::bad_alloc&) {
    result = mci::Fail(MCIERR_OUT_OF_MEMORY);
  } catch (const std::exception&) {
    result = mci::Fail(MCIERR_INTERNAL);
  }
  // A reply that does not fit fails whole, as on Windows, rather than
  // arrive cut.
  if (result.error == 0 && lpstrReturnString != nullptr &&
      result.text.size() >= uReturnLength)
    result = mci::Fail(MCIERR_PARAM_OVERFLOW);
  if (result.error != 0 && result.text.empty())
    result.text = std::string(winmm::ErrorText(result.error));
  winmm::Reply(lpstrReturnString, uReturnLength, result.text);
  return result.error;
}

extern "C" BOOL WINAPI mciGetErrorStringA(MCIERROR mcierr, LPSTR pszText,
                                          UINT cchText) {
  std::string_view text = winmm::ErrorText(mcierr);
  winmm::Reply(pszText, cchText, text);
  return text.empty() ? FALSE : TRUE;
}
