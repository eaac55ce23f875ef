// The module-player device: a module decoded by libopenmpt on a render
// thread of its own (Renderer) and played through an Output. The media-
// control calls never wait on the sound output: they set what the render
// thread is to do and read what it last reported, under a lock that the
// render thread holds only to exchange those.
#ifndef MCIPLAY_PVL_MCI_MODULE_DEVICE_H
#define MCIPLAY_PVL_MCI_MODULE_DEVICE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mci/device.h"
#include "pvl_mci/clock.h"
#include "pvl_mci/mutex.h"
#include "pvl_mci/output.h"

namespace pvl {

class Renderer;

class ModuleDevice final : public mci::Device {
 public:
  // Decodes `data` and starts the render thread, idle until play. `output`
  // plays first (null: silently); `reopen`, if given, opens another when
  // it fails. Fails with MCIERR_INVALID_FILE when libopenmpt cannot read
  // `data` as a module.
  static mci::Result Create(const std::vector<std::uint8_t>& data,
                            std::unique_ptr<Output> output, OutputOpener reopen,
                            Clock& clock,
                            std::unique_ptr<ModuleDevice>& device);
  static mci::Result Create(const std::vector<std::uint8_t>& data,
                            std::unique_ptr<Output> output, Clock& clock,
                            std::unique_ptr<ModuleDevice>& device) {
    return Create(data, std::move(output), {}, clock, device);
  }

  // Stops playback (what is queued is dropped) and ends the render thread.
  ~ModuleDevice() override;

  mci::Result Play(std::optional<std::uint32_t> from,
                   std::optional<std::uint32_t> to, mci::Notify done) override;
  // The same where nobody asks to be told of the end.
  mci::Result Play(std::optional<std::uint32_t> from,
                   std::optional<std::uint32_t> to) {
    return Play(from, to, nullptr);
  }
  mci::Result Stop() override;
  mci::Result Pause() override;
  mci::Result Resume() override;
  mci::Result Seek(std::uint32_t position) override;
  mci::Mode GetMode() override;
  // While playing: what the listener has heard so far.
  std::uint32_t Position() override;
  std::uint32_t Length() override;
  mci::Notify TakeNotify() override;
  std::string Product() override;

  // True while the render thread has nothing to do before its clock moves
  // on; tests that drive the clock wait for it before they look.
  bool Settled();

  ModuleDevice(const ModuleDevice&) = delete;
  ModuleDevice& operator=(const ModuleDevice&) = delete;

 private:
  ModuleDevice(std::unique_ptr<Renderer> renderer, std::uint32_t length_ms,
               Clock& clock);

  void Run();
  void StartLocked(std::uint32_t from, std::uint32_t to);
  void HaltLocked(mci::Mode mode);
  std::uint32_t PositionLocked(Nanos now);
  void WakeLocked();

  // The render thread's own; the calls reach it only through `generation_`.
  std::unique_ptr<Renderer> renderer_;
  Clock& clock_;
  const std::uint32_t length_ms_;

  // Shared with the render thread, under `mutex_`.
  Mutex mutex_;
  CondVar cv_;
  bool quit_ = false;
  mci::Mode mode_ = mci::Mode::kStopped;
  std::uint32_t position_ms_ = 0;  // while not playing
  // Each play, stop, pause or seek is a new generation: the render thread
  // begins or ends a run when it sees one, and drops what it reports about
  // an older one.
  std::uint64_t generation_ = 0;
  // The run asked for, and what the render thread reported of it: heard
  // frames from the run's start, as of `reported_at_`.
  std::uint32_t start_ms_ = 0;
  std::uint32_t end_ms_ = 0;
  Progress heard_;
  Nanos reported_at_{0};
  std::uint64_t shown_ = 0;  // the most heard frames a call has answered
  bool waiting_ = false;
  Nanos wait_deadline_{0};
  mci::Notify done_;    // the notification the play under way holds
  std::thread thread_;  // last: it starts once everything else is set
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_MODULE_DEVICE_H
