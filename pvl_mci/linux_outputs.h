// The sound outputs on Linux: a PulseAudio stream (also what PipeWire
// serves), and ALSA's default device directly, for machines where no sound
// server runs. Both begin opening at once and never print.
#ifndef MCIPLAY_PVL_MCI_LINUX_OUTPUTS_H
#define MCIPLAY_PVL_MCI_LINUX_OUTPUTS_H

#include <memory>

#include "pvl_mci/output.h"

namespace pvl {

std::unique_ptr<Output> OpenPulseOutput();
std::unique_ptr<Output> OpenAlsaOutput();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_LINUX_OUTPUTS_H
