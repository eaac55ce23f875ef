#include "pvl_mci/output_chain.h"
#include "pvl_mci/windows_outputs.h"

namespace pvl {

const std::vector<OutputKind>& SoundOutputs() {
  static const std::vector<OutputKind> kinds = {{"waveout", &OpenWaveOutput}};
  return kinds;
}

}  // namespace pvl
