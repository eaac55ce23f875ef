#include "pvl_mci/module_device.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>

#include "pvl_mci/signal_mask.h"

namespace pvl {
namespace {

// Frames rendered at a time: 10 ms.
constexpr std::size_t kChunkFrames = 10 * kFramesPerMs;
// Once the output is full, the thread sleeps until there is room for this
// much, then renders it chunk after chunk: a few wake-ups a second instead
// of one per chunk.
constexpr std::size_t kRefillFrames = 50 * kFramesPerMs;

// libopenmpt's messages go nowhere: a stream without a buffer discards
// everything written to it. Never destroyed, like the clock: a module still
// open at exit may write to it as it closes.
std::ostream& Silence() {
  static std::ostream* sink = new std::ostream(nullptr);
  return *sink;
}

std::uint32_t MsOfFrames(std::uint64_t frames) {
  return static_cast<std::uint32_t>(frames / kFramesPerMs);
}

}  // namespace

mci::Result ModuleDevice::Create(const std::vector<std::uint8_t>& data,
                                 std::unique_ptr<Output> output, Clock& clock,
                                 std::unique_ptr<ModuleDevice>& device) {
  std::unique_ptr<openmpt::module> module;
  try {
    // The piece ends with its last row: no fade-out added, no repeat.
    const std::map<std::string, std::string> ctls = {{"play.at_end", "stop"}};
    module = std::make_unique<openmpt::module>(data, Silence(), ctls);
    module->set_repeat_count(0);
  } catch (const std::exception&) {
    return mci::Fail(MCIERR_INVALID_FILE);
  }
  device.reset(new ModuleDevice(std::move(module), std::move(output), clock));
  return mci::Ok();
}

ModuleDevice::ModuleDevice(std::unique_ptr<openmpt::module> module,
                           std::unique_ptr<Output> output, Clock& clock)
    : module_(std::move(module)), output_(std::move(output)), clock_(clock),
      buffer_(kChunkFrames * 2) {
  double seconds = 0;
  try {
    seconds = module_->get_duration_seconds();
  } catch (const std::exception&) {
  }
  // A damaged file may claim any length; keep it within 32 bits of ms.
  if (!(seconds > 0)) seconds = 0;
  length_ms_ = static_cast<std::uint32_t>(
      std::min(std::round(seconds * 1000.0), 4294967295.0));
  NoSignalsForNewThreads no_signals;
  thread_ = std::thread([this] { Run(); });
}

ModuleDevice::~ModuleDevice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    HaltLocked(mci::Mode::kStopped);
    WakeLocked();
  }
  thread_.join();
}

void ModuleDevice::WakeLocked() {
  waiting_ = false;
  cv_.notify_all();
}

void ModuleDevice::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    Nanos deadline = kForever;
    if (mode_ == mci::Mode::kPlaying && Step(clock_.Now(), deadline)) continue;
    waiting_ = true;
    wait_deadline_ = deadline;
    clock_.WaitUntil(lock, cv_, deadline);
    waiting_ = false;
  }
}

bool ModuleDevice::Step(Nanos now, Nanos& deadline) {
  if (output_->Failed(now)) {
    // The sound output is gone: the run goes on silently from what has
    // been heard, in time, to its end.
    const std::uint64_t heard = std::min(output_->Heard(now), written_);
    output_->Halt();
    output_ = MakeSilentOutputFrom(heard, written_, now);
    return true;
  }
  if (finished_) {
    if (output_->Heard(now) < written_) {
      deadline = output_->WhenHeard(written_, now);
      return false;
    }
    // The last frame has been heard.
    output_->Halt();
    position_ms_ = written_ == run_frames_ ? end_ms_
                                           : start_ms_ + MsOfFrames(written_);
    mode_ = mci::Mode::kStopped;
    return true;
  }
  const std::size_t want = static_cast<std::size_t>(
      std::min<std::uint64_t>(kChunkFrames, run_frames_ - written_));
  if (want > 0 && output_->Room(now) < want) {
    deadline = output_->WhenRoom(std::max(want, kRefillFrames), now);
    return false;
  }
  std::size_t got = 0;
  if (want > 0 && lead_ > 0) {
    // The module starts on the row after the place played from: silence
    // until then keeps the run in time.
    got = static_cast<std::size_t>(std::min<std::uint64_t>(want, lead_));
    std::fill(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(2 * got), 0.0f);
    lead_ -= got;
  } else if (want > 0) {
    try {
      // The module starts on a row before the place played from: what
      // lies between is not heard.
      while (skip_ > 0) {
        const std::size_t n = module_->read_interleaved_stereo(
            kSampleRate, static_cast<std::size_t>(std::min<std::uint64_t>(skip_, kChunkFrames)),
            buffer_.data());
        skip_ = n > 0 ? skip_ - std::min<std::uint64_t>(skip_, n) : 0;
      }
      got = module_->read_interleaved_stereo(kSampleRate, want, buffer_.data());
    } catch (const std::exception&) {
      got = 0;  // a module that cannot go on has ended
    }
  }
  if (got > 0) {
    output_->Write(buffer_.data(), got, now);
    written_ += got;
  }
  if (got == 0 || written_ >= run_frames_) {
    finished_ = true;
    output_->Finish(now);
  }
  return true;
}

void ModuleDevice::StartLocked(std::uint32_t from, std::uint32_t to) {
  output_->Halt();
  lead_ = skip_ = 0;
  try {
    // The module goes to the start of a row near `from`, before or after
    // it (rows last up to seconds): the frames from that row's start to
    // `from` are skipped, or the gap up to it played as silence.
    const double at = module_->set_position_seconds(from / 1000.0);
    const double frames = std::round((at * 1000.0 - from) * kFramesPerMs);
    if (frames > 0) lead_ = static_cast<std::uint64_t>(frames);
    if (frames < 0) skip_ = static_cast<std::uint64_t>(-frames);
  } catch (const std::exception&) {
  }
  start_ms_ = from;
  end_ms_ = std::max(from, to);
  run_frames_ = static_cast<std::uint64_t>(end_ms_ - start_ms_) * kFramesPerMs;
  written_ = 0;
  finished_ = false;
  output_->Start(clock_.Now());
  mode_ = mci::Mode::kPlaying;
  WakeLocked();
}

void ModuleDevice::HaltLocked(mci::Mode mode) {
  if (mode_ == mci::Mode::kPlaying) {
    position_ms_ = PositionLocked(clock_.Now());
    output_->Halt();
  }
  mode_ = mode;
  WakeLocked();
}

std::uint32_t ModuleDevice::PositionLocked(Nanos now) {
  if (mode_ != mci::Mode::kPlaying) return position_ms_;
  std::uint64_t heard = std::min(output_->Heard(now), run_frames_);
  return start_ms_ + MsOfFrames(heard);
}

mci::Result ModuleDevice::Play(std::optional<std::uint32_t> from,
                               std::optional<std::uint32_t> to) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint32_t start = from ? *from : PositionLocked(clock_.Now());
  if (mode_ == mci::Mode::kPlaying && !from) {
    // Already playing: only the end may change.
    if (to) {
      HaltLocked(mci::Mode::kStopped);
      StartLocked(position_ms_, std::max(*to, position_ms_));
    }
    return mci::Ok();
  }
  StartLocked(start, to ? *to : length_ms_);
  return mci::Ok();
}

mci::Result ModuleDevice::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  HaltLocked(mci::Mode::kStopped);
  return mci::Ok();
}

mci::Result ModuleDevice::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == mci::Mode::kPlaying || mode_ == mci::Mode::kPaused) {
    HaltLocked(mci::Mode::kPaused);
  }
  return mci::Ok();
}

mci::Result ModuleDevice::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == mci::Mode::kPaused) StartLocked(position_ms_, end_ms_);
  return mci::Ok();
}

mci::Result ModuleDevice::Seek(std::uint32_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  HaltLocked(mci::Mode::kStopped);
  position_ms_ = std::min(position, length_ms_);
  return mci::Ok();
}

mci::Mode ModuleDevice::GetMode() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mode_;
}

std::uint32_t ModuleDevice::Position() {
  std::lock_guard<std::mutex> lock(mutex_);
  return PositionLocked(clock_.Now());
}

std::uint32_t ModuleDevice::Length() { return length_ms_; }

bool ModuleDevice::Settled() {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_ && (wait_deadline_ == kForever || wait_deadline_ > clock_.Now());
}

}  // namespace pvl
