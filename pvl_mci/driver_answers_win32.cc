#include "pvl_mci/driver_answers_win32.h"

#include <mmddk.h>

#include <cstring>
#include <utility>

namespace pvl {
namespace {

WORD ModeResource(mci::Mode mode) {
  switch (mode) {
    case mci::Mode::kNotReady: return MCI_MODE_NOT_READY;
    case mci::Mode::kPaused: return MCI_MODE_PAUSE;
    case mci::Mode::kPlaying: return MCI_MODE_PLAY;
    case mci::Mode::kStopped: return MCI_MODE_STOP;
    case mci::Mode::kOpen: return MCI_MODE_OPEN;
    case mci::Mode::kSeeking: return MCI_MODE_SEEK;
  }
  return MCI_MODE_NOT_READY;
}

// winmm writes "true" or "false"; a program asking by number gets 1 or 0.
DWORD Truth(bool value) {
  return MAKEMCIRESOURCE(value, value ? MCI_TRUE : MCI_FALSE);
}

// The items of winmm's core table, as the device's own names them.
constexpr std::pair<DWORD, mci::Capability> kItems[] = {
    {MCI_GETDEVCAPS_CAN_PLAY, mci::Capability::kCanPlay},
    {MCI_GETDEVCAPS_CAN_RECORD, mci::Capability::kCanRecord},
    {MCI_GETDEVCAPS_CAN_SAVE, mci::Capability::kCanSave},
    {MCI_GETDEVCAPS_CAN_EJECT, mci::Capability::kCanEject},
    {MCI_GETDEVCAPS_DEVICE_TYPE, mci::Capability::kDeviceType},
    {MCI_GETDEVCAPS_HAS_AUDIO, mci::Capability::kHasAudio},
    {MCI_GETDEVCAPS_HAS_VIDEO, mci::Capability::kHasVideo},
    {MCI_GETDEVCAPS_USES_FILES, mci::Capability::kUsesFiles},
    {MCI_GETDEVCAPS_COMPOUND_DEVICE, mci::Capability::kCompoundDevice},
};

}  // namespace

// A piece is track 1: with MCI_TRACK, its position is the track's start
// and its length the piece's.
LRESULT Status(mci::Device& device, DWORD flags, MCI_STATUS_PARMS* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_STATUS_ITEM)) return MCIERR_MISSING_PARAMETER;
  const bool track = (flags & MCI_TRACK) != 0;
  if (track && (flags & MCI_STATUS_START)) return MCIERR_FLAGS_NOT_COMPATIBLE;
  if (track && (parms->dwTrack < 1 || parms->dwTrack > mci::kTracks))
    return MCIERR_OUTOFRANGE;
  switch (parms->dwItem) {
    case MCI_STATUS_MODE: {
      const WORD mode = ModeResource(device.GetMode());
      parms->dwReturn = MAKEMCIRESOURCE(mode, mode);
      return MCI_RESOURCE_RETURNED;
    }
    case MCI_STATUS_POSITION:
      parms->dwReturn =
          track || (flags & MCI_STATUS_START) ? 0 : device.Position();
      return 0;
    case MCI_STATUS_LENGTH: parms->dwReturn = device.Length(); return 0;
    case MCI_STATUS_NUMBER_OF_TRACKS: parms->dwReturn = mci::kTracks; return 0;
    case MCI_STATUS_CURRENT_TRACK: parms->dwReturn = 1; return 0;
    case MCI_STATUS_READY:
      parms->dwReturn = Truth(device.GetMode() != mci::Mode::kNotReady);
      return MCI_RESOURCE_RETURNED;
    case MCI_STATUS_MEDIA_PRESENT:
      parms->dwReturn = Truth(true);
      return MCI_RESOURCE_RETURNED;
    case MCI_STATUS_TIME_FORMAT:
      parms->dwReturn =
          MAKEMCIRESOURCE(MCI_FORMAT_MILLISECONDS, MCI_FORMAT_MILLISECONDS_S);
      return MCI_RESOURCE_RETURNED;
    default: return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

LRESULT Capability(DWORD flags, MCI_GETDEVCAPS_PARMS* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_GETDEVCAPS_ITEM)) return MCIERR_MISSING_PARAMETER;
  for (const auto& [item, capability] : kItems) {
    if (parms->dwItem != item) continue;
    if (capability == mci::Capability::kDeviceType) {
      parms->dwReturn = MAKEMCIRESOURCE(MCI_DEVTYPE_OTHER, MCI_DEVTYPE_OTHER);
      return MCI_RESOURCE_RETURNED;
    }
    parms->dwReturn = Truth(mci::Has(capability));
    return MCI_RESOURCE_RETURNED;
  }
  return MCIERR_UNSUPPORTED_FUNCTION;
}

// A text that does not fit the caller's buffer fails whole, as winmm's own
// answers do, rather than come back cut.
LRESULT Info(mci::Device& device, const std::wstring& element, DWORD flags,
             MCI_INFO_PARMSW* parms) {
  if (parms == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  std::wstring text;
  switch (flags & (MCI_INFO_PRODUCT | MCI_INFO_FILE)) {
    case MCI_INFO_PRODUCT: {
      const std::string product = device.Product();
      text.assign(product.begin(), product.end());  // ASCII
      break;
    }
    case MCI_INFO_FILE: text = element; break;
    case 0: return MCIERR_MISSING_PARAMETER;
    default: return MCIERR_FLAGS_NOT_COMPATIBLE;
  }
  if (parms->lpstrReturn == nullptr || text.size() >= parms->dwRetSize)
    return MCIERR_PARAM_OVERFLOW;
  std::memcpy(parms->lpstrReturn, text.c_str(),
              (text.size() + 1) * sizeof(wchar_t));
  return 0;
}

}  // namespace pvl
