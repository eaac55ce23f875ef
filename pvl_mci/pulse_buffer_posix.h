// What a PulseAudio stream (PipeWire serves the same protocol) asks of
// the server: how much it buffers, in what pieces the server asks for
// more, and when it starts to play.
#ifndef MCIPLAY_PVL_MCI_PULSE_BUFFER_POSIX_H
#define MCIPLAY_PVL_MCI_PULSE_BUFFER_POSIX_H

#include <pulse/def.h>

#include <cstddef>
#include <cstdint>

#include "pvl_mci/output.h"

namespace pvl {

constexpr std::size_t kFrameBytes = 2 * sizeof(float);
// The latency asked for at first: long enough to ride out a busy machine;
// the position line does not show it, as it shows what was heard. The
// server splits it between the stream's buffer and the sink's. After an
// underrun it is doubled, up to kMaxLatencyFrames.
constexpr std::size_t kLatencyFrames = 400 * kFramesPerMs;
constexpr std::size_t kMaxLatencyFrames = 800 * kFramesPerMs;
// What the sink keeps of the latency: both servers keep
// (latency - 2 * request) / 2 there, mixed ahead (PulseAudio) or as the
// graph's cycle (PipeWire), and the rest in the stream's buffer, which a
// close drops. So the server asks for data in pieces of
// latency / 2 - kSinkFrames (180 ms of 400), and a stream closed falls
// silent within 20 ms even on a sink that cannot take back what it mixed.
// The server asks when 180 ms are missing, with 200 ms still to play: with
// both cores busy, this process or the server's main thread (which sends
// the requests; only its mixing thread runs in real time) was seen held up
// for 110-130 ms, which with pieces of 80 ms, asked for with 100 ms left,
// was heard as a gap.
constexpr std::size_t kSinkFrames = 20 * kFramesPerMs;
constexpr std::size_t RequestFrames(std::size_t latency) {
  return latency / 2 - kSinkFrames;
}
constexpr std::size_t kRequestFrames = RequestFrames(kLatencyFrames);

// The stream's attributes for `latency`. With a prebuffer (the server's:
// the whole buffer, or less on a trigger) until the stream has played a
// while: without one, a new stream plays silence from its start, and the
// first frames written land behind it (20 ms of music lost on
// PulseAudio); and a stream joining the music, fed only a little ahead,
// runs on past what was written when this process is late (placed 40 ms
// off once with both cores busy). After that, none: PipeWire takes a
// stream's data a graph cycle at a time, and from a stream with a
// prebuffer holds back a last piece shorter than a cycle. A stream whose
// writer stopped (Ctrl+Z) would then never play its faded end, and the
// music would stop hard and go on after the piece held back. Without one,
// the server plays that piece and silence after it, as PulseAudio does.
inline pa_buffer_attr StreamAttributes(std::size_t latency, bool prebuffer) {
  pa_buffer_attr attr;
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(latency * kFrameBytes);
  attr.prebuf = prebuffer ? static_cast<std::uint32_t>(-1) : 0;
  attr.minreq =
      static_cast<std::uint32_t>(RequestFrames(latency) * kFrameBytes);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  return attr;
}

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_PULSE_BUFFER_POSIX_H
