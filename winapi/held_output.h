// Output held for a screen, so that everything the program writes between
// two waits reaches the terminal as one write: the cursor moves and text of
// a redraw go out together when the program next waits, reads input or asks
// the terminal something (screen.h says where).
//
// The signal handlers that give the terminal back send what is held first,
// so the screen at a stop or an exit is the one the program wrote. The main
// thread appends and sends; a handler interrupts it but never runs beside
// it, so the few fields below are atomics only to be read whole there.
#ifndef MCIPLAY_WINAPI_HELD_OUTPUT_H
#define MCIPLAY_WINAPI_HELD_OUTPUT_H

#include <signal.h>

#include <atomic>
#include <cstddef>

namespace term {

struct HeldOutput {
  static constexpr std::size_t kSize = 2048;
  char bytes[kSize] = {};
  std::atomic<int> fd{-1};              // the screen they are for
  std::atomic<std::size_t> length{0};   // bytes[0, length) are held
  std::atomic<int> sending{0};          // the main thread is writing them
  volatile sig_atomic_t line_fd = -1;   // the screen written to last
  volatile sig_atomic_t line_open = 0;  // and its line is unfinished
};
static_assert(std::atomic<std::size_t>::is_always_lock_free);

// Writes `bytes` to `fd` whole: again after EINTR and, with
// `wait_for_room`, after waiting when someone made it non-blocking (a
// signal handler does not wait: the process is leaving or stopping). Gives
// the count written: less after an error such as a closed pipe.
std::size_t WriteWhole(int fd, const char* bytes, std::size_t length,
                       bool wait_for_room = true);

// Main thread: holds `bytes` for screen `fd` behind what is already held;
// what is held for another screen, or would overflow, goes out first, and
// more than the hold takes goes straight out.
void Hold(HeldOutput& held, int fd, const char* bytes, std::size_t length);

// Main thread: writes out what is held. False when a write failed.
bool SendHeld(HeldOutput& held);

// In a handler: the same, unless the main thread was interrupted while
// writing them (what it has not written is then lost, as with any write a
// signal ends the process in).
void SendHeldInHandler(HeldOutput& held);

}  // namespace term

#endif  // MCIPLAY_WINAPI_HELD_OUTPUT_H
