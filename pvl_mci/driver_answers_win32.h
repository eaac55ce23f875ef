// The driver's answers to the commands that only ask: status, capability
// and info. Words come back as resources of winmm, which writes their text
// ("playing", "true", "milliseconds") into the caller's reply; numbers as
// they are; texts into the caller's buffer.
#ifndef MCIPLAY_PVL_MCI_DRIVER_ANSWERS_WIN32_H
#define MCIPLAY_PVL_MCI_DRIVER_ANSWERS_WIN32_H

#include <windows.h>
#include <mmsystem.h>

#include <string>

#include "mci/device.h"

namespace pvl {

LRESULT Status(mci::Device& device, DWORD flags, MCI_STATUS_PARMS* parms);
LRESULT Capability(DWORD flags, MCI_GETDEVCAPS_PARMS* parms);
// `element`: the file name the device was opened with.
LRESULT Info(mci::Device& device, const std::wstring& element, DWORD flags,
             MCI_INFO_PARMSW* parms);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_DRIVER_ANSWERS_WIN32_H
