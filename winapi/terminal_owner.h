// The terminal the program takes for its run, and the signal handlers that
// give it back. The program takes it (raw mode, the keyboard protocol's
// flags) at start and whenever it is continued in the foreground, and gives
// it back as found when it ends, stops or is killed by a signal. What each
// signal does is in winapi/README.md ("Signals").
//
// This is the async-signal-safe island: every value a handler uses is in
// HandlerState, and everything here may run in a handler.
#ifndef MCIPLAY_WINAPI_TERMINAL_OWNER_H
#define MCIPLAY_WINAPI_TERMINAL_OWNER_H

#include <signal.h>
#include <termios.h>

#include <atomic>
#include <string_view>

#include "winapi/held_output.h"

namespace term {

// Every value a signal handler reads or writes. The main thread changes the
// settings (`found`, `raw`) only with the handlers held off (HoldSignals);
// flags that guard a change are set before the change, so a handler that
// comes in between undoes it rather than missing it.
struct HandlerState {
  volatile sig_atomic_t fd = -1;         // the terminal the program takes
  termios found{};                       // its settings as found
  termios raw{};                         // the settings the program puts on it
  volatile sig_atomic_t ever_taken = 0;  // `raw` holds settings of ours
  volatile sig_atomic_t taken = 0;       // raw settings may be on
  volatile sig_atomic_t protocol = 0;    // the terminal speaks the protocol
  volatile sig_atomic_t pushed = 0;      // the program's flags may be on
  volatile sig_atomic_t asking = 0;      // an answer may be on its way to us
  volatile sig_atomic_t unwrapped = -1;  // the screen whose line wrap is off
  HeldOutput held;                       // output not yet written, the line
  std::atomic<int> leaving{0};           // a handler is ending the process
  std::atomic<int> left{0};              // and has given the terminal back
  std::atomic<int> resumes{0};           // times continued (SIGCONT)
  std::atomic<int> resizes{0};           // window size changes (SIGWINCH)
  // The action each fatal signal had at start, which its handler puts
  // back; written before the handler is installed.
  struct sigaction before[NSIG] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

extern HandlerState g_handler_state;

// Line wrap off and on (DECAWM), which SetConsoleMode sends and the
// handlers undo.
inline constexpr std::string_view kWrapOff = "\x1b[?7l";
inline constexpr std::string_view kWrapOn = "\x1b[?7h";

// Installs the handlers (each unless the signal was ignored at start, as a
// shell does for background jobs) and ignores SIGPIPE. With `terminal`,
// also those for Ctrl+Z and continuing.
void InstallHandlers(bool terminal);

// True when a handler counts the window's size changes (SIGWINCH was not
// ignored at start).
bool ResizesAreSignalled();

// Blocks every signal the handlers catch, and SIGTTIN and SIGTTOU, on the
// calling thread while it lives: the main thread's changes to the terminal
// are whole when a handler sees them.
class HoldSignals {
 public:
  HoldSignals();
  ~HoldSignals();
  HoldSignals(const HoldSignals&) = delete;
  HoldSignals& operator=(const HoldSignals&) = delete;

 private:
  sigset_t before_;
};

// Takes the terminal if the program is in the foreground and has not taken
// it: keeps the settings it finds and puts it in raw mode, pushing the
// protocol's flags where the terminal speaks it. `drop_input`: what came in
// before is not for the program.
void TakeTerminal(bool drop_input);

// Gives the terminal back: turns line wrap on where the program turned it
// off, pops the flags and, in the foreground, restores the settings found
// and drops unread input (an answer on its way is let in first, so that it
// is dropped too).
void GiveTerminal();

// Drops the bytes the terminal sent that were not read yet, in the
// foreground; false when the terminal refused (the shell has it now).
bool FlushInput();

// Pushes the protocol's flags on the terminal.
void PushKeyFlags();

// The terminal went away: the program ends as when it hangs up.
[[noreturn]] void EndAsHangUp();

}  // namespace term

#endif  // MCIPLAY_WINAPI_TERMINAL_OWNER_H
