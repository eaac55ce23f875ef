// Any bytes opened as a module through the device, as an open command with
// "type pvl_mci" opens its file, then played a little on the silent output
// with a clock that moves only here, sought, played to the end and closed.
// The device never crashes, never leaks, never hangs (a piece that claims
// to last for weeks still closes at once), and its position stays within
// the piece and never runs ahead of the clock.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "pvl_mci/module_device.h"
#include "pvl_mci/output.h"
#include "tests/support/manual_clock.h"

namespace {

using std::chrono::milliseconds;

ManualClock& TheClock() {
  static ManualClock* clock = new ManualClock;
  return *clock;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// Moves the clock on by `ms` and waits for the device to catch up; a device
// that does not is hanging.
void Advance(pvl::ModuleDevice& device, int ms) {
  TheClock().Advance(milliseconds(ms));
  Check(Settle(device));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::unique_ptr<pvl::ModuleDevice> device;
  if (pvl::ModuleDevice::Create(bytes, pvl::MakeSilentOutput(), TheClock(),
                                device)
          .error != 0) {
    Check(device == nullptr);
    return 0;
  }
  Check(device != nullptr);
  const std::uint32_t length = device->Length();

  // From the start, a quarter of a second in uneven steps, none longer than
  // the half of the silent output's 200 ms that the device refills at a
  // time: a longer one runs it dry, as a sound card starved that long would,
  // and the piece then rightly ends later than the clock says.
  Check(device->Play({}, {}).error == 0);
  Check(Settle(*device));
  std::uint32_t last = 0, elapsed = 0;
  for (int step : {1, 9, 40, 100, 100}) {
    Advance(*device, step);
    elapsed += static_cast<std::uint32_t>(step);
    const std::uint32_t at = device->Position();
    Check(at >= last && at <= length && at <= elapsed);
    last = at;
  }
  // A piece shorter than the time that passed is over.
  if (length <= elapsed) Check(device->GetMode() == mci::Mode::kStopped);

  // Half way, then the last tenth of a second to the end.
  Check(device->Seek(length / 2).error == 0);
  Check(device->GetMode() == mci::Mode::kStopped);
  Check(device->Position() == length / 2);
  const std::uint32_t near_end = length > 100 ? length - 100 : 0;
  Check(device->Play(near_end, {}).error == 0);
  Check(Settle(*device));
  Advance(*device, 150);
  Check(device->GetMode() == mci::Mode::kStopped);
  Check(device->Position() <= length && device->Position() >= near_end);

  // And closed in the middle of a run.
  Check(device->Play(0, {}).error == 0);
  Advance(*device, 20);
  device.reset();
  return 0;
}
