// The verbs of the service's command strings. Each reads its own keywords
// and their values; `wait` and `notify`, which every verb takes, are read
// once for all of them.
#ifndef MCIPLAY_WINMM_VERBS_H
#define MCIPLAY_WINMM_VERBS_H

#include "winmm/devices.h"
#include "winmm/parse.h"

namespace winmm {

// Carries out `command` on the devices of `devices`.
Result Execute(Devices& devices, const Command& command);

}  // namespace winmm

#endif  // MCIPLAY_WINMM_VERBS_H
