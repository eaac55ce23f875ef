#include "pvl_mci/open_module.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "pvl_mci/locate.h"
#include "pvl_mci/module_device.h"
#include "pvl_mci/output_chain.h"
#include "pvl_mci/system.h"

namespace pvl {
namespace {

// Larger files are no modules this device plays.
constexpr std::streamoff kMaxFileBytes = 64L * 1024 * 1024;
// The program reads replies of at most 80 characters (and a NUL).
constexpr std::size_t kReplyChars = 80;

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
    return mci::Fail(MCIERR_INVALID_FILE,
                     "The file is too large for a module.");
  data.resize(static_cast<std::size_t>(size));
  errno = 0;
  if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()),
                           static_cast<std::streamsize>(data.size())))
    return ReadError(errno);
  return mci::Ok();
}

mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output,
                       OutputOpener& reopen) {
  const std::string mode = choice != nullptr && *choice ? choice : "auto";
  output.reset();
  reopen = {};
  if (mode == "null") {
    output = MakeSilentOutput();
    return mci::Ok();
  }
  std::vector<OutputKind> kinds;
  std::string names = "auto, null, device";
  for (const OutputKind& kind : SoundOutputs()) {
    if (mode == "auto" || mode == "device" || mode == kind.name)
      kinds.push_back(kind);
    names += std::string(", ") + kind.name;
  }
  if (kinds.empty()) {
    const auto last = names.rfind(", ");
    return mci::Fail(MCIERR_BAD_CONSTANT, "PVL_MCI_OUTPUT must be " +
                                              names.substr(0, last) + " or " +
                                              names.substr(last + 2) + ".");
  }
  reopen.open = [kinds](std::size_t count) {
    return OpenChain(
        {kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(
                                            std::min(count, kinds.size()))});
  };
  reopen.server_came = WatchForServers();
  std::unique_ptr<Output> first = reopen.open(kAllKinds);
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
  reopen = {};
  // The calls that failed, where the reply has room for them.
  const auto text = [](const std::string& why) {
    return "No sound output: " + why + ".";
  };
  if (state != Output::State::kFailed)
    return mci::Fail(MCIERR_HARDWARE, text("it did not open"));
  std::string reply = text(first->Error());
  if (reply.size() > kReplyChars) reply = text(first->Reason());
  return mci::Fail(MCIERR_HARDWARE, reply);
}

mci::Result OpenModule(const std::filesystem::path& element,
                       std::unique_ptr<mci::Device>& device) {
  std::filesystem::path path;
  if (mci::Result r = Locate(element, path); r.error) return r;
  std::vector<std::uint8_t> data;
  if (mci::Result r = ReadModuleFile(path, data); r.error) return r;
  std::unique_ptr<Output> output;
  OutputOpener reopen;
  if (mci::Result r = MakeOutput(std::getenv("PVL_MCI_OUTPUT"), output, reopen);
      r.error)
    return r;
  std::unique_ptr<ModuleDevice> module;
  if (mci::Result r = ModuleDevice::Create(
          data, std::move(output), std::move(reopen), SteadyClock(), module);
      r.error)
    return r;
  device = std::move(module);
  return mci::Ok();
}

}  // namespace pvl
