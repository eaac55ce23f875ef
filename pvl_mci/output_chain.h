// The opening of sound outputs one after the other: the first that plays is
// the one used.
#ifndef MCIPLAY_PVL_MCI_OUTPUT_CHAIN_H
#define MCIPLAY_PVL_MCI_OUTPUT_CHAIN_H

#include <memory>
#include <vector>

#include "pvl_mci/output.h"

namespace pvl {

struct OutputKind {
  const char* name;  // as PVL_MCI_OUTPUT names it
  // Begins opening one (it may still be kOpening); never null.
  std::unique_ptr<Output> (*open)();
};

// Opens `kinds` in order, moving to the next when one fails, but not past
// one whose system hangs. Once one is ready, the chain plays through it;
// when all fail, Error() tells each kind's failed call and reason, and
// Reason() each kind's name and reason.
std::unique_ptr<Output> OpenChain(std::vector<OutputKind> kinds);

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_OUTPUT_CHAIN_H
