#include "pvl_mci/linux_outputs.h"
#include "pvl_mci/output_chain.h"

namespace pvl {

// A sound server first: where one runs, ALSA's default device usually
// leads to it too, only less directly.
const std::vector<OutputKind>& SoundOutputs() {
  static const std::vector<OutputKind> kinds = {{"pulse", &OpenPulseOutput},
                                                {"alsa", &OpenAlsaOutput}};
  return kinds;
}

}  // namespace pvl
