#include "pvl_mci/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "pvl_mci/locate.h"
#include "pvl_mci/module_device.h"
#include "pvl_mci/output_chain.h"

namespace pvl {
namespace {

// Larger files are no modules this device plays.
constexpr long kMaxFileBytes = 64L * 1024 * 1024;

mci::Result ReadFile(const std::string& path, std::vector<std::uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return mci::Fail(MCIERR_FILE_NOT_FOUND,
                     "The file cannot be read: " + std::string(std::strerror(errno)) + ".");
  }
  mci::Result result;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
    result = mci::Fail(MCIERR_FILE_NOT_FOUND, "The file cannot be read.");
  } else if (size > kMaxFileBytes) {
    result = mci::Fail(MCIERR_INVALID_FILE, "The file is too large for a module.");
  } else {
    data.resize(static_cast<std::size_t>(size));
    if (size > 0 && std::fread(data.data(), 1, data.size(), f) != data.size())
      result = mci::Fail(MCIERR_FILE_NOT_FOUND, "The file cannot be read.");
  }
  std::fclose(f);
  return result;
}

}  // namespace

mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output,
                       OutputOpener& reopen) {
  const std::string mode = choice != nullptr && *choice ? choice : "auto";
  output.reset();
  reopen = nullptr;
  if (mode == "null") {
    output = MakeSilentOutput();
    return mci::Ok();
  }
  std::vector<OutputKind> kinds;
  std::string names = "auto, null, device";
  for (const OutputKind& kind : SoundOutputs()) {
    if (mode == "auto" || mode == "device" || mode == kind.name) kinds.push_back(kind);
    names += std::string(", ") + kind.name;
  }
  if (kinds.empty()) {
    const auto last = names.rfind(", ");
    return mci::Fail(MCIERR_BAD_CONSTANT, "PVL_MCI_OUTPUT must be " + names.substr(0, last) +
                                              " or " + names.substr(last + 2) + ".");
  }
  reopen = [kinds](std::size_t count) {
    return OpenChain({kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(count, kinds.size()))});
  };
  std::unique_ptr<Output> first = reopen(kAllKinds);
  Clock& clock = SteadyClock();
  const Nanos give_up = clock.Now() + std::chrono::seconds(3);
  Output::State state = first->Poll(clock.Now());
  while (state == Output::State::kOpening && clock.Now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state = first->Poll(clock.Now());
  }
  if (state == Output::State::kReady) {
    output = std::move(first);
    return mci::Ok();
  }
  if (mode == "auto") return mci::Ok();  // silently, until one opens
  reopen = nullptr;
  const std::string why = state == Output::State::kFailed ? first->Error() : "it did not open";
  return mci::Fail(MCIERR_HARDWARE, "No sound output: " + why + ".");
}

mci::Result OpenModule(std::string_view element,
                       std::unique_ptr<mci::Device>& device) {
  const std::string path = Locate(element);
  if (path.empty()) return mci::Fail(MCIERR_FILE_NOT_FOUND);
  std::vector<std::uint8_t> data;
  if (mci::Result r = ReadFile(path, data); r.error) return r;
  std::unique_ptr<Output> output;
  OutputOpener reopen;
  if (mci::Result r = MakeOutput(std::getenv("PVL_MCI_OUTPUT"), output, reopen); r.error)
    return r;
  std::unique_ptr<ModuleDevice> module;
  if (mci::Result r = ModuleDevice::Create(data, std::move(output), std::move(reopen),
                                           SteadyClock(), module);
      r.error)
    return r;
  device = std::move(module);
  return mci::Ok();
}

void RegisterDriver() { mci::RegisterDriver(kDeviceType, &OpenModule); }

}  // namespace pvl
