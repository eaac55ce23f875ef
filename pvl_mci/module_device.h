// The module-player device: a module decoded by libopenmpt, rendered by an
// audio thread of its own and played through an Output.
#ifndef MCIPLAY_PVL_MCI_MODULE_DEVICE_H
#define MCIPLAY_PVL_MCI_MODULE_DEVICE_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mci/mci_driver.h"
#include "pvl_mci/clock.h"
#include "pvl_mci/output.h"

namespace openmpt {
class module;
}

namespace pvl {

class ModuleDevice final : public mci::Device {
 public:
  // Decodes `data` and starts the audio thread, idle until play. Fails with
  // MCIERR_INVALID_FILE when libopenmpt cannot read it as a module.
  static mci::Result Create(const std::vector<std::uint8_t>& data,
                            std::unique_ptr<Output> output, Clock& clock,
                            std::unique_ptr<ModuleDevice>& device);

  // Stops playback and ends the audio thread.
  ~ModuleDevice() override;

  mci::Result Play(std::optional<std::uint32_t> from,
                   std::optional<std::uint32_t> to) override;
  mci::Result Stop() override;
  mci::Result Pause() override;
  mci::Result Resume() override;
  mci::Result Seek(std::uint32_t position) override;
  mci::Mode GetMode() override;
  // While playing: what the listener has heard so far.
  std::uint32_t Position() override;
  std::uint32_t Length() override;

  // True while the audio thread has nothing to do before its clock moves
  // on; tests that drive the clock wait for it before they look.
  bool Settled();

  ModuleDevice(const ModuleDevice&) = delete;
  ModuleDevice& operator=(const ModuleDevice&) = delete;

 private:
  ModuleDevice(std::unique_ptr<openmpt::module> module,
               std::unique_ptr<Output> output, Clock& clock);

  void Run();
  // One step of playback; false when there is nothing to do before
  // `deadline`.
  bool Step(Nanos now, Nanos& deadline);
  void StartLocked(std::uint32_t from, std::uint32_t to);
  void HaltLocked(mci::Mode mode);
  std::uint32_t PositionLocked(Nanos now);
  void WakeLocked();

  std::unique_ptr<openmpt::module> module_;
  std::unique_ptr<Output> output_;
  Clock& clock_;
  std::uint32_t length_ms_ = 0;

  std::mutex mutex_;
  std::condition_variable cv_;
  bool quit_ = false;
  mci::Mode mode_ = mci::Mode::kStopped;
  std::uint32_t position_ms_ = 0;  // while not playing
  // The run being played: from start_ms_ up to end_ms_, written_ frames of
  // it so far, finished_ once all of it is written.
  std::uint32_t start_ms_ = 0;
  std::uint32_t end_ms_ = 0;
  std::uint64_t run_frames_ = 0;
  std::uint64_t written_ = 0;
  // Silence to play before the module's first row, or frames of it to
  // pass over, when it could not start exactly where the run does.
  std::uint64_t lead_ = 0;
  std::uint64_t skip_ = 0;
  bool finished_ = false;
  bool waiting_ = false;
  Nanos wait_deadline_{0};
  std::vector<float> buffer_;
  std::thread thread_;  // last: it starts once everything else is set
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_MODULE_DEVICE_H
