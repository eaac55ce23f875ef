#include <pthread.h>
#include <signal.h>

#include <cstring>

#include "pvl_mci/signal_mask.h"

namespace pvl {

static_assert(sizeof(sigset_t) <= 128, "the saved mask must fit");

NoSignalsForNewThreads::NoSignalsForNewThreads() {
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  std::memcpy(saved_, &saved, sizeof saved);
}

NoSignalsForNewThreads::~NoSignalsForNewThreads() {
  sigset_t saved;
  std::memcpy(&saved, saved_, sizeof saved);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace pvl
