// The "pvl_mci" device type: opens a module file as a ModuleDevice with the
// output PVL_MCI_OUTPUT chooses. The same on every system; the POSIX media
// service and the Windows driver entry point both open devices through it.
#ifndef MCIPLAY_PVL_MCI_DRIVER_H
#define MCIPLAY_PVL_MCI_DRIVER_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "mci/mci_driver.h"
#include "pvl_mci/output.h"

namespace pvl {

constexpr char kDeviceType[] = "pvl_mci";

// The output for a value of PVL_MCI_OUTPUT (null or empty: auto): "auto"
// the sound device if one opens, else silent; "null" silent; "device" the
// sound device or an error.
mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output);

// Reads the whole of `path`: a file that cannot be read, or one too large
// for a module, fails with the reason.
mci::Result ReadModuleFile(const std::filesystem::path& path,
                           std::vector<std::uint8_t>& data);

// Finds `element` (Locate), reads it and opens it on the steady clock.
mci::Result OpenModule(const std::filesystem::path& element,
                       std::unique_ptr<mci::Device>& device);

// Registers OpenModule under "pvl_mci" with the POSIX media service.
void RegisterDriver();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_DRIVER_H
