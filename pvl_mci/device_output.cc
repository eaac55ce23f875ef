// The sound card through PortAudio. The audio thread of the device writes
// into a ring that PortAudio's callback reads; the callback counts what it
// has taken, and what the listener has heard lags that by the output
// latency PortAudio reports for the stream.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "pvl_mci/output.h"
#include "pvl_mci/signal_mask.h"

namespace pvl {
namespace {

// ALSA and JACK write their complaints (no card, no server) to standard
// error unless given handlers of their own.
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJack(const char*) {}

void QuietAudioLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(&IgnoreAlsa);
    jack_set_error_function(&IgnoreJack);
    jack_set_info_function(&IgnoreJack);
  });
}

constexpr std::uint64_t kRingFrames = 250 * kFramesPerMs;
// The device's audio thread looks for room this often.
constexpr Nanos kPoll = std::chrono::milliseconds(20);
// A stream that takes no frame for this long while frames wait has failed.
constexpr Nanos kStall = std::chrono::seconds(1);

class DeviceOutput final : public Output {
 public:
  DeviceOutput() : ring_(kRingFrames * 2) {}

  ~DeviceOutput() override {
    if (stream_ != nullptr) {
      Pa_AbortStream(stream_);
      Pa_CloseStream(stream_);
    }
    if (initialized_) Pa_Terminate();
  }

  bool Open(std::string& error) {
    QuietAudioLibraries();
    NoSignalsForNewThreads no_signals;
    PaError e = Pa_Initialize();
    if (e != paNoError) {
      error = Pa_GetErrorText(e);
      return false;
    }
    initialized_ = true;
    PaStreamParameters params{};
    params.device = Pa_GetDefaultOutputDevice();
    if (params.device == paNoDevice) {
      error = "there is no sound output device";
      return false;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(params.device);
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = info != nullptr ? info->defaultHighOutputLatency : 0.1;
    e = Pa_OpenStream(&stream_, nullptr, &params, kSampleRate,
                      paFramesPerBufferUnspecified, paNoFlag, &Callback, this);
    if (e != paNoError) {
      stream_ = nullptr;
      error = Pa_GetErrorText(e);
      return false;
    }
    const PaStreamInfo* stream_info = Pa_GetStreamInfo(stream_);
    latency_frames_ = stream_info != nullptr
                          ? static_cast<std::uint64_t>(
                                stream_info->outputLatency * kSampleRate)
                          : 0;
    return true;
  }

  void Start(Nanos now) override {
    Halt();
    read_.store(0);
    written_.store(0);
    tail_.store(0);
    finished_.store(false);
    failed_ = false;
    seen_played_ = 0;
    seen_at_ = now;
    started_ = true;
    NoSignalsForNewThreads no_signals;
    start_failed_ = Pa_StartStream(stream_) != paNoError;
  }

  void Halt() override {
    started_ = false;
    if (Pa_IsStreamStopped(stream_) == 0) {
      Pa_AbortStream(stream_);
    }
  }

  // The stream did not start, has ended by itself (PortAudio ends it on an
  // error of the sound system) or has stalled. Looked at by the device's
  // audio thread at least every kPoll while it plays.
  bool Failed(Nanos now) override {
    if (!started_) return false;
    if (failed_) return true;
    const std::uint64_t played = read_.load() + tail_.load();
    const bool waiting = written_.load() > read_.load() || finished_.load();
    if (!waiting || played != seen_played_) {
      seen_played_ = played;
      seen_at_ = now;
    }
    failed_ = start_failed_ || Pa_IsStreamActive(stream_) != 1 ||
              now - seen_at_ > kStall;
    return failed_;
  }

  std::size_t Room(Nanos) override {
    return static_cast<std::size_t>(kRingFrames - (written_.load() - read_.load()));
  }

  void Write(const float* frames, std::size_t count, Nanos) override {
    std::uint64_t at = written_.load();
    for (std::size_t i = 0; i < count; ++i, ++at) {
      std::size_t slot = static_cast<std::size_t>(at % kRingFrames) * 2;
      ring_[slot] = frames[2 * i];
      ring_[slot + 1] = frames[2 * i + 1];
    }
    written_.store(at, std::memory_order_release);
  }

  void Finish(Nanos) override { finished_.store(true); }

  std::uint64_t Heard(Nanos now) override {
    // After the last frame, the silence the callback plays carries the
    // last frames through the latency to the listener.
    std::uint64_t played = read_.load() + tail_.load();
    if (failed_) {
      // Counted on from the last time the stream was seen to move, so
      // that the silent output taking over keeps the time.
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                          now - seen_at_).count();
      played = seen_played_ +
               static_cast<std::uint64_t>(us > 0 ? us : 0) * kFramesPerMs / 1000;
    }
    std::uint64_t heard = played > latency_frames_ ? played - latency_frames_ : 0;
    return std::min(heard, written_.load());
  }

  Nanos WhenRoom(std::size_t, Nanos now) override { return now + kPoll; }
  Nanos WhenHeard(std::uint64_t, Nanos now) override { return now + kPoll; }

 private:
  static int Callback(const void*, void* out, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                      void* self) {
    static_cast<DeviceOutput*>(self)->Fill(static_cast<float*>(out), frames);
    return paContinue;
  }

  void Fill(float* out, unsigned long frames) {
    std::uint64_t read = read_.load();
    std::uint64_t available = written_.load(std::memory_order_acquire) - read;
    std::uint64_t n = std::min<std::uint64_t>(available, frames);
    for (std::uint64_t i = 0; i < n; ++i, ++read) {
      std::size_t slot = static_cast<std::size_t>(read % kRingFrames) * 2;
      out[2 * i] = ring_[slot];
      out[2 * i + 1] = ring_[slot + 1];
    }
    std::memset(out + 2 * n, 0, static_cast<std::size_t>(frames - n) * 2 * sizeof(float));
    read_.store(read, std::memory_order_release);
    if (finished_.load() && n < frames) tail_.fetch_add(frames - n);
  }

  std::vector<float> ring_;
  std::atomic<std::uint64_t> read_{0};
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> tail_{0};
  std::atomic<bool> finished_{false};
  std::uint64_t latency_frames_ = 0;
  PaStream* stream_ = nullptr;
  bool initialized_ = false;
  // Only the device's audio thread and its callers, under the device's
  // lock, touch these.
  bool started_ = false;
  bool start_failed_ = false;
  bool failed_ = false;
  std::uint64_t seen_played_ = 0;
  Nanos seen_at_{0};
};

}  // namespace

std::unique_ptr<Output> MakeDeviceOutput(std::string& error) {
  auto output = std::make_unique<DeviceOutput>();
  if (!output->Open(error)) return nullptr;
  return output;
}

}  // namespace pvl
