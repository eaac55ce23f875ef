#include "pvl_mci/driver.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "pvl_mci/locate.h"
#include "pvl_mci/module_device.h"

namespace pvl {
namespace {

// Larger files are no modules this device plays.
constexpr std::streamoff kMaxFileBytes = 64L * 1024 * 1024;

mci::Result ReadError(int error) {
  if (error == 0) return mci::Fail(MCIERR_FILE_READ);
  return mci::Fail(MCIERR_FILE_READ,
                   "The file cannot be read: " +
                       std::generic_category().message(error) + ".");
}

}  // namespace

mci::Result ReadModuleFile(const std::filesystem::path& path,
                           std::vector<std::uint8_t>& data) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ReadError(errno);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || !in.seekg(0, std::ios::beg)) return ReadError(errno);
  if (size > kMaxFileBytes)
    return mci::Fail(MCIERR_INVALID_FILE, "The file is too large for a module.");
  data.resize(static_cast<std::size_t>(size));
  errno = 0;
  if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()),
                           static_cast<std::streamsize>(data.size())))
    return ReadError(errno);
  return mci::Ok();
}

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

mci::Result OpenModule(const std::filesystem::path& element,
                       std::unique_ptr<mci::Device>& device) {
  std::filesystem::path path;
  if (mci::Result r = Locate(element, path); r.error) return r;
  std::vector<std::uint8_t> data;
  if (mci::Result r = ReadModuleFile(path, data); r.error) return r;
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

}  // namespace pvl
