// Windows delivers no signals to threads: nothing to block.
#include "pvl_mci/signal_mask.h"

namespace pvl {

NoSignalsForNewThreads::NoSignalsForNewThreads() : saved_{} {}
NoSignalsForNewThreads::~NoSignalsForNewThreads() = default;

}  // namespace pvl
