// Any command strings through mciSendStringA, on a driver that does nothing:
// the service never crashes, never writes past the reply length, and always
// leaves a NUL within it. The first byte of the input picks the reply
// length; the rest is command strings, one a line.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "mci/device.h"
#include "winmm/service.h"

namespace {

class Idle final : public mci::Device {
 public:
  mci::Result Play(std::optional<std::uint32_t>, std::optional<std::uint32_t>,
                   mci::Notify) override {
    return {};
  }
  mci::Result Stop() override { return {}; }
  mci::Result Pause() override { return {}; }
  mci::Result Resume() override { return {}; }
  mci::Result Seek(std::uint32_t) override { return {}; }
  mci::Mode GetMode() override { return mci::Mode::kStopped; }
  std::uint32_t Position() override { return 0; }
  std::uint32_t Length() override { return 60000; }
  mci::Notify TakeNotify() override { return nullptr; }
  std::string Product() override { return "idle"; }
};

const bool registered = [] {
  winmm::AddDeviceType("idle",
                       [](std::string_view, std::unique_ptr<mci::Device>& d) {
                         d = std::make_unique<Idle>();
                         return mci::Result{};
                       });
  return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0 || !registered) return 0;
  const unsigned length = data[0] % 82;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    std::string command = rest.substr(start, end - start);
    char reply[82 + 8];
    std::memset(reply, 0x5A, sizeof reply);
    mciSendStringA(command.c_str(), length ? reply : nullptr, length, nullptr);
    if (length > 0 && std::memchr(reply, '\0', length) == nullptr) std::abort();
    for (std::size_t i = length; i < sizeof reply; ++i)
      if (reply[i] != 0x5A) std::abort();
    start = end + 1;
  }
  mciSendStringA("close all", nullptr, 0, nullptr);
  return 0;
}
