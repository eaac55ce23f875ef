// The device's threads, and those the audio libraries start for it, take
// no signals: the program's handlers (which put the terminal back, stop and
// continue the program) then always run on the program's own thread, never
// on one that renders or plays while the program goes on.
#ifndef MCIPLAY_PVL_MCI_SIGNAL_MASK_H
#define MCIPLAY_PVL_MCI_SIGNAL_MASK_H

#include <pthread.h>
#include <signal.h>

namespace pvl {

// Blocks every signal on the calling thread for its lifetime, so that the
// threads started meanwhile begin with all signals blocked; then puts the
// caller's mask back.
class NoSignalsForNewThreads {
 public:
  NoSignalsForNewThreads() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved_);
  }
  ~NoSignalsForNewThreads() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  NoSignalsForNewThreads(const NoSignalsForNewThreads&) = delete;
  NoSignalsForNewThreads& operator=(const NoSignalsForNewThreads&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_SIGNAL_MASK_H
