#include "pvl_mci/driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pvl_mci/locate.h"
#include "pvl_mci/module_device.h"

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

mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output) {
  const std::string mode = choice != nullptr && *choice ? choice : "auto";
  if (mode == "null") {
    output = MakeSilentOutput();
    return mci::Ok();
  }
  if (mode != "auto" && mode != "device")
    return mci::Fail(MCIERR_BAD_CONSTANT,
                     "PVL_MCI_OUTPUT must be auto, null or device.");
  std::string error;
  output = MakeDeviceOutput(error);
  if (output) return mci::Ok();
  if (mode == "device")
    return mci::Fail(MCIERR_HARDWARE, "No sound output: " + error + ".");
  output = MakeSilentOutput();
  return mci::Ok();
}

mci::Result OpenModule(std::string_view element,
                       std::unique_ptr<mci::Device>& device) {
  const std::string path = Locate(element);
  if (path.empty()) return mci::Fail(MCIERR_FILE_NOT_FOUND);
  std::vector<std::uint8_t> data;
  if (mci::Result r = ReadFile(path, data); r.error) return r;
  std::unique_ptr<Output> output;
  if (mci::Result r = MakeOutput(std::getenv("PVL_MCI_OUTPUT"), output); r.error)
    return r;
  std::unique_ptr<ModuleDevice> module;
  if (mci::Result r = ModuleDevice::Create(data, std::move(output), SteadyClock(), module);
      r.error)
    return r;
  device = std::move(module);
  return mci::Ok();
}

void RegisterDriver() { mci::RegisterDriver(kDeviceType, &OpenModule); }

}  // namespace pvl
