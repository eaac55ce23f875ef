// The "pvl_mci" device type: opens a module file as a ModuleDevice with the
// output PVL_MCI_OUTPUT chooses. The same on every system; the POSIX media
// service and the Windows driver entry point both open devices through it.
#ifndef MCIPLAY_PVL_MCI_OPEN_MODULE_H
#define MCIPLAY_PVL_MCI_OPEN_MODULE_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "mci/device.h"
#include "pvl_mci/output.h"

namespace pvl {

constexpr char kDeviceType[] = "pvl_mci";

// The outputs for a value of PVL_MCI_OUTPUT (null or empty: "auto"): the
// one to play through first (null: silently for now), and how to open
// another when it fails. "null" is silent for good; "auto" tries the
// system's sound outputs in order and plays silently where none opens;
// "device" does the same but fails where none opens; the name of one
// output (e.g. "pulse") tries that one alone, and fails where it does not
// open. Waits for an opening for at most three seconds.
mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output,
                       OutputOpener& reopen);

// Reads the whole of `path`: a file that cannot be read, or one too large
// for a module, fails with the reason.
mci::Result ReadModuleFile(const std::filesystem::path& path,
                           std::vector<std::uint8_t>& data);

// Finds `element` (Locate), reads it and opens it on the steady clock.
mci::Result OpenModule(const std::filesystem::path& element,
                       std::unique_ptr<mci::Device>& device);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_OPEN_MODULE_H
