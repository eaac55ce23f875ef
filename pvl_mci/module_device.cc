#include "pvl_mci/module_device.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "pvl_mci/renderer.h"
#include "pvl_mci/system.h"

namespace pvl {
namespace {

// A report older than this is not carried on: the render thread reports
// several times a second while it runs, so an older one means the process
// was stopped, and the sound with it.
constexpr Nanos kStale = std::chrono::milliseconds(500);

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

// For the benchmark and the tests: where PVL_MCI_STATS names a file, a
// device appends one line to it as it closes, with what its runs met with.
void AppendStats(const Renderer::Stats& stats) {
  const char* path = std::getenv("PVL_MCI_STATS");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "underruns %llu grown %llu\n",
                 static_cast<unsigned long long>(stats.underruns),
                 static_cast<unsigned long long>(stats.grown));
    std::fclose(file);
  }
}

}  // namespace

mci::Result ModuleDevice::Create(const std::vector<std::uint8_t>& data,
                                 std::unique_ptr<Output> output,
                                 OutputOpener reopen, Clock& clock,
                                 std::unique_ptr<ModuleDevice>& device) {
  std::unique_ptr<openmpt::module> module;
  double seconds = 0;
  try {
    // The piece ends with its last row: no fade-out added, no repeat. A
    // seek (play from, resume, a new output taking over) brings back the
    // notes already sounding there, not only those struck after.
    const std::map<std::string, std::string> ctls = {
        {"play.at_end", "stop"}, {"seek.sync_samples", "1"}};
    module = std::make_unique<openmpt::module>(data, Silence(), ctls);
    module->set_repeat_count(0);
  } catch (const std::exception&) {
    return mci::Fail(MCIERR_INVALID_FILE);
  }
  try {
    seconds = module->get_duration_seconds();
  } catch (const std::exception&) {
  }
  // A damaged file may claim any length; keep it within 32 bits of ms.
  if (!(seconds > 0)) seconds = 0;
  const auto length_ms = static_cast<std::uint32_t>(
      std::min(std::round(seconds * 1000.0), 4294967295.0));
  auto renderer = std::make_unique<Renderer>(
      std::move(module), std::move(output), std::move(reopen));
  device.reset(new ModuleDevice(std::move(renderer), length_ms, clock));
  return mci::Ok();
}

ModuleDevice::ModuleDevice(std::unique_ptr<Renderer> renderer,
                           std::uint32_t length_ms, Clock& clock)
    : renderer_(std::move(renderer)), clock_(clock), length_ms_(length_ms) {
  thread_ = StartRenderThread([this] { Run(); });
}

ModuleDevice::~ModuleDevice() {
  {
    std::lock_guard<Mutex> lock(mutex_);
    quit_ = true;
    HaltLocked(mci::Mode::kStopped);
    mci::Post(done_, mci::Notice::kAborted);
  }
  thread_.join();
  AppendStats(renderer_->stats());
}

void ModuleDevice::WakeLocked() {
  waiting_ = false;
  cv_.notify_all();
}

// The render thread: begins and ends runs as the calls ask, and between
// them steps the run, reporting what was heard. The lock is let go while
// the renderer works, so that no call waits on the sound output.
void ModuleDevice::Run() {
  std::unique_lock<Mutex> lock(mutex_);
  std::uint64_t seen = 0;  // the generation before any call
  while (!quit_) {
    const Nanos now = clock_.Now();
    if (seen != generation_) {
      seen = generation_;
      const bool play = mode_ == mci::Mode::kPlaying;
      const std::uint32_t from = start_ms_, to = end_ms_;
      lock.unlock();
      if (play)
        renderer_->Begin(from, to, now);
      else
        renderer_->End();
      lock.lock();
      continue;
    }
    Nanos deadline = kForever;
    if (mode_ == mci::Mode::kPlaying) {
      lock.unlock();
      const Renderer::Report report = renderer_->Step(now);
      lock.lock();
      if (seen != generation_) continue;  // about a run that is over
      heard_ = report.heard;
      reported_at_ = now;
      // The music goes on silently; the one who asked hears of the fault.
      if (report.output_failed) mci::Post(done_, mci::Notice::kFailure);
      if (report.done) {
        mode_ = mci::Mode::kStopped;
        position_ms_ = report.done_at_ms;
        mci::Post(done_, mci::Notice::kSuccessful);
        continue;
      }
      deadline = report.wake;
      if (deadline <= now) continue;
    }
    waiting_ = true;
    wait_deadline_ = deadline;
    clock_.WaitUntil(lock, cv_, deadline);
    waiting_ = false;
  }
  // The run ends with the renderer: its outputs close, which drops what they
  // hold without waiting on a sound system, so a close is never held by a
  // server that hangs.
}

void ModuleDevice::StartLocked(std::uint32_t from, std::uint32_t to) {
  start_ms_ = from;
  end_ms_ = std::max(from, to);
  heard_ = Progress{};
  shown_ = 0;
  mode_ = mci::Mode::kPlaying;
  ++generation_;
  WakeLocked();
}

void ModuleDevice::HaltLocked(mci::Mode mode) {
  if (mode_ == mci::Mode::kPlaying) {
    position_ms_ = PositionLocked(clock_.Now());
    ++generation_;
  }
  mode_ = mode;
  WakeLocked();
}

std::uint32_t ModuleDevice::PositionLocked(Nanos now) {
  if (mode_ != mci::Mode::kPlaying) return position_ms_;
  const std::uint64_t run =
      static_cast<std::uint64_t>(end_ms_ - start_ms_) * kFramesPerMs;
  const std::uint64_t heard =
      HeardBy(heard_, std::min(now, reported_at_ + kStale));
  shown_ = std::max(shown_, std::min(heard, run));
  return start_ms_ + MsOfFrames(shown_);
}

mci::Result ModuleDevice::Play(std::optional<std::uint32_t> from,
                               std::optional<std::uint32_t> to,
                               mci::Notify done) {
  std::lock_guard<Mutex> lock(mutex_);
  mci::Post(done_, done ? mci::Notice::kSuperseded : mci::Notice::kAborted);
  done_ = std::move(done);
  const std::uint32_t start = from ? *from : PositionLocked(clock_.Now());
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
  std::lock_guard<Mutex> lock(mutex_);
  mci::Post(done_, mci::Notice::kAborted);
  HaltLocked(mci::Mode::kStopped);
  return mci::Ok();
}

mci::Result ModuleDevice::Pause() {
  std::lock_guard<Mutex> lock(mutex_);
  if (mode_ == mci::Mode::kPlaying || mode_ == mci::Mode::kPaused) {
    HaltLocked(mci::Mode::kPaused);
  }
  return mci::Ok();
}

mci::Result ModuleDevice::Resume() {
  std::lock_guard<Mutex> lock(mutex_);
  if (mode_ == mci::Mode::kPaused) StartLocked(position_ms_, end_ms_);
  return mci::Ok();
}

mci::Result ModuleDevice::Seek(std::uint32_t position) {
  std::lock_guard<Mutex> lock(mutex_);
  mci::Post(done_, mci::Notice::kAborted);
  HaltLocked(mci::Mode::kStopped);
  position_ms_ = std::min(position, length_ms_);
  return mci::Ok();
}

mci::Mode ModuleDevice::GetMode() {
  std::lock_guard<Mutex> lock(mutex_);
  return mode_;
}

std::uint32_t ModuleDevice::Position() {
  std::lock_guard<Mutex> lock(mutex_);
  return PositionLocked(clock_.Now());
}

std::uint32_t ModuleDevice::Length() { return length_ms_; }

mci::Notify ModuleDevice::TakeNotify() {
  std::lock_guard<Mutex> lock(mutex_);
  return std::exchange(done_, nullptr);
}

std::string ModuleDevice::Product() { return "pvl_mci module player"; }

bool ModuleDevice::Settled() {
  std::lock_guard<Mutex> lock(mutex_);
  return waiting_ &&
         (wait_deadline_ == kForever || wait_deadline_ > clock_.Now());
}

}  // namespace pvl
