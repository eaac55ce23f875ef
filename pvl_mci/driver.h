// The "pvl_mci" device type: opens a module file as a ModuleDevice with the
// output PVL_MCI_OUTPUT chooses.
#ifndef MCIPLAY_PVL_MCI_DRIVER_H
#define MCIPLAY_PVL_MCI_DRIVER_H

#include <memory>
#include <string>
#include <string_view>

#include "mci/mci_driver.h"
#include "pvl_mci/output.h"

namespace pvl {

constexpr char kDeviceType[] = "pvl_mci";

// The outputs for a value of PVL_MCI_OUTPUT (null or empty: "auto"): the
// one to play through first (null: silently for now), and how to open
// another when it fails. "null" is silent for good; "auto" tries the
// system's sound outputs in order and plays silently where none opens;
// "device" does the same but fails where none opens; the name of one
// output (e.g. "pulse") tries that one alone, and fails where it does not
// open. Waits for an opening for at most about a second.
mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output,
                       OutputOpener& reopen);

// Finds `element`, reads it and opens it on the steady clock.
mci::Result OpenModule(std::string_view element,
                       std::unique_ptr<mci::Device>& device);

// Registers OpenModule under "pvl_mci".
void RegisterDriver();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_DRIVER_H
