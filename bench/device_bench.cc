// Measures how long the device takes to open, and to close in the middle
// of playback, with each output. Prints the figures; fails only when a
// device cannot be opened at all.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "pvl_mci/module_device.h"
#include "pvl_mci/open_module.h"
#include "xmgen/pieces.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

bool Measure(const char* choice, const std::vector<std::uint8_t>& data) {
  std::vector<double> opens, closes;
  for (int i = 0; i < 10; ++i) {
    auto t0 = Clock::now();
    std::unique_ptr<pvl::Output> output;
    pvl::OutputOpener reopen;
    if (pvl::MakeOutput(choice, output, reopen).error) {
      std::printf("%-7s no output can be opened\n", choice);
      return false;
    }
    std::unique_ptr<pvl::ModuleDevice> device;
    if (pvl::ModuleDevice::Create(data, std::move(output), std::move(reopen),
                                  pvl::SteadyClock(), device)
            .error)
      return false;
    opens.push_back(Ms(Clock::now() - t0));
    device->Play(std::nullopt, std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto t1 = Clock::now();
    device.reset();
    closes.push_back(Ms(Clock::now() - t1));
  }
  std::sort(opens.begin(), opens.end());
  std::sort(closes.begin(), closes.end());
  std::printf(
      "%-7s open: median %.2f ms, max %.2f ms; close mid-play: "
      "median %.3f ms, max %.3f ms\n",
      choice, opens[opens.size() / 2], opens.back(), closes[closes.size() / 2],
      closes.back());
  return true;
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> data = xmgen::WriteXm(xmgen::ComposePiece());
  bool ok = Measure("null", data);
  ok = Measure("auto", data) && ok;
  return ok ? 0 : 1;
}
