// What a device driver gives the media-control string service: a function
// that opens an element as a Device, registered under a device type. The
// service parses the command strings, keeps the table of open devices and
// calls these operations; drivers never see command text.
#ifndef MCIPLAY_MCI_MCI_DRIVER_H
#define MCIPLAY_MCI_MCI_DRIVER_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace mci {

enum class Mode { kNotReady, kPaused, kPlaying, kStopped, kOpen, kSeeking };

// The word the status command replies for a mode.
std::string_view ModeName(Mode mode);

// The outcome of an operation: error 0 for success. On failure `text` may
// give the driver's own wording for the reply; when it is empty the reply
// is the standard text of the error number.
struct Result {
  MCIERROR error = 0;
  std::string text;
};

inline Result Ok() { return {}; }
inline Result Fail(MCIERROR error, std::string text = {}) {
  return {error, std::move(text)};
}

// An open device. Positions and lengths are in milliseconds. Destroying it
// closes it: playback stops and everything it holds is freed.
class Device {
 public:
  virtual ~Device() = default;
  // Starts playing from `from` (or the current position) up to `to` (or
  // the end) and returns at once.
  virtual Result Play(std::optional<std::uint32_t> from,
                      std::optional<std::uint32_t> to) = 0;
  virtual Result Stop() = 0;
  virtual Result Pause() = 0;
  virtual Result Resume() = 0;
  // Stops playback and moves to `position` (at most Length()).
  virtual Result Seek(std::uint32_t position) = 0;
  virtual Mode GetMode() = 0;
  virtual std::uint32_t Position() = 0;
  virtual std::uint32_t Length() = 0;
};

// The error for a play range outside a piece of `length` ms: from and to
// within the piece, from not past to. 0 when the range is playable.
inline MCIERROR PlayRangeError(std::optional<std::uint32_t> from,
                               std::optional<std::uint32_t> to,
                               std::uint32_t length) {
  if ((from && *from > length) || (to && *to > length) ||
      (from && to && *from > *to))
    return MCIERR_OUTOFRANGE;
  return 0;
}

// Opens `element` (a file name, as given in the command) and on success
// stores the device in `device`.
using OpenFunction = std::function<Result(std::string_view element,
                                          std::unique_ptr<Device>& device)>;

// Makes `type` (compared ignoring letter case) open its devices through
// `open`, replacing any driver registered under it before.
void RegisterDriver(std::string_view type, OpenFunction open);

// Removes the driver of `type`; devices it opened stay open.
void UnregisterDriver(std::string_view type);

}  // namespace mci

#endif  // MCIPLAY_MCI_MCI_DRIVER_H
