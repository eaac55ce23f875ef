// The device's threads, and those the audio libraries start for it, take
// no signals: the program's handlers (which put the terminal back, stop and
// continue the program) then always run on the program's own thread, never
// on one that renders or plays while the program goes on. Windows sends no
// signals to threads, so there the guard does nothing.
#ifndef MCIPLAY_PVL_MCI_SIGNAL_MASK_H
#define MCIPLAY_PVL_MCI_SIGNAL_MASK_H

namespace pvl {

// Blocks every signal on the calling thread for its lifetime, so that the
// threads started meanwhile begin with all signals blocked; then puts the
// caller's mask back. Platform part.
class NoSignalsForNewThreads {
 public:
  NoSignalsForNewThreads();
  ~NoSignalsForNewThreads();
  NoSignalsForNewThreads(const NoSignalsForNewThreads&) = delete;
  NoSignalsForNewThreads& operator=(const NoSignalsForNewThreads&) = delete;

 private:
  // The caller's mask, as the platform keeps it (a sigset_t on POSIX).
  alignas(8) unsigned char saved_[128];
};

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_SIGNAL_MASK_H
