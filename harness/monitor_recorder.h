// Records what a sound server's sink plays, from its monitor source, at
// 48 kHz stereo float, and knows when (on the steady clock) each recorded
// frame was played: the stream's own timing, sampled while it records.
#ifndef MCIPLAY_HARNESS_MONITOR_RECORDER_H
#define MCIPLAY_HARNESS_MONITOR_RECORDER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace audio {

using SteadyTime = std::chrono::steady_clock::time_point;

constexpr int kRate = 48000;

class MonitorRecorder {
 public:
  MonitorRecorder() = default;
  ~MonitorRecorder();
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  // Connects to the server at `socket` and records `source` (a new
  // recording); false, with the reason in `error`, when the recording has
  // not begun within 10 s.
  bool Start(const std::string& socket, const std::string& source,
             std::string& error);
  // Ends the recording; what was recorded stays.
  void Stop();
  // True once the connection to the server is gone (it was killed).
  bool Lost() const;

  std::size_t Frames() const;
  // Interleaved left and right samples, from `from` to the end so far.
  std::vector<float> Samples(std::size_t from = 0) const;
  // When the sink played `frame`, and the frame the sink played at `time`
  // (0 before the recording). Known once the stream has reported its timing.
  std::optional<SteadyTime> TimeOfFrame(std::size_t frame) const;
  std::optional<std::size_t> FrameAt(SteadyTime time) const;
  // The first frame from `from` on with a sample beyond `threshold`.
  std::optional<std::size_t> FirstSound(std::size_t from,
                                        float threshold) const;
  // Waits until a frame played after `after` is louder than `threshold`;
  // gives the time that frame was played.
  std::optional<SteadyTime> WaitForSound(SteadyTime after,
                                         std::chrono::milliseconds timeout,
                                         float threshold = 1e-3f) const;
  // Waits until the recording holds what the sink played up to `until`
  // (it comes in late on a busy machine); false when the time is up.
  bool WaitForRecorded(SteadyTime until,
                       std::chrono::milliseconds timeout) const;

 private:
  static void OnRead(pa_stream* stream, std::size_t bytes, void* self);
  static void OnTiming(pa_stream* stream, int success, void* self);
  void RequestTiming();
  // Lets go of the stream; with the loop's lock held, or its thread
  // stopped.
  void DropStream();
  std::optional<std::int64_t> OffsetNs() const;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;

  mutable std::mutex mutex_;
  std::vector<float> samples_;
  // Steady time less stream time, in ns, once per timing report.
  std::vector<std::int64_t> offsets_;
  SteadyTime last_request_{};
};

}  // namespace audio

#endif  // MCIPLAY_HARNESS_MONITOR_RECORDER_H
