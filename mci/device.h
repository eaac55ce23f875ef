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
#include <utility>

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

// How a command that asked for notification came to its end: the codes of
// MM_MCINOTIFY.
enum class Notice {
  kSuccessful,  // it was carried out (a play: it ended by itself)
  kSuperseded,  // another command asking for notification took its place
  kAborted,     // a command interrupted it (stop, seek, close, a new play)
  kFailure,     // the device failed meanwhile (a play: its sound output)
};

// Tells the one who asked how a command ended; empty when nobody asked.
// Called at most once, from any thread, possibly under the device's lock:
// it must only post or record, never call the device.
using Notify = std::function<void(Notice)>;

// Calls `notify`, if any, with `notice`, and leaves it empty.
inline void Post(Notify& notify, Notice notice) {
  Notify taken = std::exchange(notify, nullptr);
  if (taken) taken(notice);
}

// An open device. Positions and lengths are in milliseconds. Destroying it
// closes it: playback stops, a notification a play holds is aborted, and
// everything it holds is freed.
class Device {
 public:
  virtual ~Device() = default;
  // Starts playing from `from` (or the current position) up to `to` (or
  // the end) and returns at once. The device holds one notification, for
  // the play under way: `done` takes the place of the one it held, which
  // is superseded when `done` is given and aborted when not. `done` hears
  // kSuccessful when the play ends by itself, kFailure when its sound
  // output fails (the play goes on silently), and kAborted when Stop, Seek,
  // another Play or the close interrupts it.
  virtual Result Play(std::optional<std::uint32_t> from,
                      std::optional<std::uint32_t> to, Notify done) = 0;
  virtual Result Stop() = 0;
  // Pauses; the play's notification waits for its end after a Resume.
  virtual Result Pause() = 0;
  virtual Result Resume() = 0;
  // Stops playback and moves to `position` (at most Length()).
  virtual Result Seek(std::uint32_t position) = 0;
  virtual Mode GetMode() = 0;
  virtual std::uint32_t Position() = 0;
  virtual std::uint32_t Length() = 0;
  // Takes away the notification the play holds (empty when none), for a
  // command asking for one of its own, which supersedes it.
  virtual Notify TakeNotify() = 0;
  // The product name "info product" replies.
  virtual std::string Product() = 0;
};

// The items of the capability command, and what every device here answers:
// it plays the sound of a file, in a time format, and does nothing else.
// The device type is "other", neither wave audio nor a sequencer.
enum class Capability {
  kCanPlay,
  kCanRecord,
  kCanSave,
  kCanEject,
  kDeviceType,
  kHasAudio,
  kHasVideo,
  kUsesFiles,
  kCompoundDevice,
};
inline constexpr std::pair<std::string_view, Capability> kCapabilities[] = {
    {"can play", Capability::kCanPlay},
    {"can record", Capability::kCanRecord},
    {"can save", Capability::kCanSave},
    {"can eject", Capability::kCanEject},
    {"device type", Capability::kDeviceType},
    {"has audio", Capability::kHasAudio},
    {"has video", Capability::kHasVideo},
    {"uses files", Capability::kUsesFiles},
    {"compound device", Capability::kCompoundDevice},
};
// Compound: the device plays an element, the file named at open.
constexpr bool Has(Capability item) {
  return item == Capability::kCanPlay || item == Capability::kHasAudio ||
         item == Capability::kUsesFiles || item == Capability::kCompoundDevice;
}
inline constexpr std::string_view kDeviceTypeWord = "other";

// A piece is one track: status number of tracks and current track reply 1,
// media present true, and position start 0.
inline constexpr std::uint32_t kTracks = 1;

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
// every 10 ms, or once `go_on` (asked after each look) says to wait no
// longer: another thread closed the device, or the caller gave up.
inline void WaitWhilePlaying(Device& device,
                             const std::function<bool()>& go_on) {
  while (device.GetMode() == Mode::kPlaying) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!go_on()) return;
  }
}

}  // namespace mci

#endif  // MCIPLAY_MCI_DEVICE_H
