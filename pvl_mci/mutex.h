// The lock the device's sound threads share with the media-control calls.
// The render thread and the sound library's thread run with real-time
// priority where the system grants it; the calls, from the program's own
// thread, do not. On POSIX systems the lock lends the priority of a thread
// that waits for it to the one that holds it (priority inheritance), so a
// call preempted by other work while it holds the lock cannot hold up the
// sound for as long as that work keeps the processor.
#ifndef MCIPLAY_PVL_MCI_MUTEX_H
#define MCIPLAY_PVL_MCI_MUTEX_H

#include <condition_variable>
#include <mutex>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace pvl {

#ifdef _WIN32
using Mutex = std::mutex;
#else
class Mutex {
 public:
  Mutex() {
    pthread_mutexattr_t attr;
    bool made = false;
    if (pthread_mutexattr_init(&attr) == 0) {
      made = pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT) == 0 &&
             pthread_mutex_init(&mutex_, &attr) == 0;
      pthread_mutexattr_destroy(&attr);
    }
    // Without priority inheritance it is still a lock; a default one
    // cannot fail to be made.
    if (!made) pthread_mutex_init(&mutex_, nullptr);
  }
  ~Mutex() { pthread_mutex_destroy(&mutex_); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // A lock held by this process's own threads, taken and released in
  // pairs: these fail only on misuse.
  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }
  bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }

 private:
  pthread_mutex_t mutex_;
};
#endif

using CondVar = std::condition_variable_any;

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_MUTEX_H
