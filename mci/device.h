// What an open media device is to the media-control service that drives it:
// the same on every system. The POSIX service (winmm/) and the Windows
// driver entry point (pvl_mci/driver_win32.cc) both call these operations;
// a device never sees command text.
#ifndef MCIPLAY_MCI_DEVICE_H
#define MCIPLAY_MCI_DEVICE_H

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace mci {

enum class Mode { kNotReady, kPaused, kPlaying, kStopped, kOpen, kSeeking };

// The word the status command replies for a mode.
constexpr std::string_view ModeName(Mode mode) {
  switch (mode) {
    case Mode::kNotReady: return "not ready";
    case Mode::kPaused: return "paused";
    case Mode::kPlaying: return "playing";
    case Mode::kStopped: return "stopped";
    case Mode::kOpen: return "open";
    case Mode::kSeeking: return "seeking";
  }
  return "not ready";
}

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

// A play command's "wait": returns once `device` no longer plays, looking
// every 10 ms, or once `still_open` (asked after each look) says another
// thread closed it meanwhile.
inline void WaitWhilePlaying(Device& device,
                             const std::function<bool()>& still_open) {
  while (device.GetMode() == Mode::kPlaying) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!still_open()) return;
  }
}

}  // namespace mci

#endif  // MCIPLAY_MCI_DEVICE_H
