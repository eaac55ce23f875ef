// The sound output on Windows: winmm's waveOut on the default device.
#ifndef MCIPLAY_PVL_MCI_WINDOWS_OUTPUTS_H
#define MCIPLAY_PVL_MCI_WINDOWS_OUTPUTS_H

#include <memory>

#include "pvl_mci/output.h"

namespace pvl {

std::unique_ptr<Output> OpenWaveOutput();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_WINDOWS_OUTPUTS_H
