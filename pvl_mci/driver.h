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

// The output for a value of PVL_MCI_OUTPUT (null or empty: auto): "auto"
// the sound card if one opens, else silent; "null" silent; "device" the
// sound card or an error.
mci::Result MakeOutput(const char* choice, std::unique_ptr<Output>& output);

// Finds `element`, reads it and opens it on the steady clock.
mci::Result OpenModule(std::string_view element,
                       std::unique_ptr<mci::Device>& device);

// Registers OpenModule under "pvl_mci".
void RegisterDriver();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_DRIVER_H
