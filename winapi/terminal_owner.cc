#include "winapi/terminal_owner.h"

#include <errno.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>

namespace term {

// Constant-initialised: the handlers read it whenever a signal comes, so it
// is whole before any code runs.
constinit HandlerState g_handler_state;

namespace {

HandlerState& H() { return g_handler_state; }

// Signals whose default action ends the process. The first four end it as
// the user asked, with exit code 0; the others, and faults, end it with
// the action they had at start (the default), so the exit status and any
// core stay theirs.
constexpr int kEndSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kFatalSignals[] = {
    SIGUSR1,   SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPOLL,
    SIGSEGV,   SIGBUS,  SIGFPE,  SIGILL,    SIGABRT, SIGSYS,  SIGTRAP,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
// A fault raised by the processor comes back when its handler returns.
bool IsFault(int sig) {
  return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL ||
         sig == SIGSYS;
}

// Keyboard protocol flags: disambiguate (1), event types (2), alternate
// keys (4) and all keys as escape codes (8).
constexpr char kPushFlags[] = "\x1b[>15u";
constexpr char kPop[] = "\x1b[<u";
constexpr char kPopThenAsk[] = "\x1b[<u\x1b[c";
// How long giving the terminal back waits for the answer after the pop.
constexpr long long kPopWaitMs = 200;

long long NowMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMillis(long ms) {
  timespec span{0, ms * 1000000L};
  nanosleep(&span, nullptr);
}

bool InForeground(int fd) { return tcgetpgrp(fd) == getpgrp(); }

// The program touches the terminal's settings and input only in the
// foreground, as decided by the kernel at the call: a shell may take the
// terminal between a check of ours and the call (a wrapper script stops,
// or dies of Ctrl+C, before this process), and its input and settings are
// then its own. While `sig` (SIGTTOU for settings, SIGTTIN for reads) is
// caught, not restarting and not blocked, such a call from the background
// fails with EINTR instead of passing (blocked) or stopping the process.
class ForegroundOnly {
 public:
  explicit ForegroundOnly(int sig) : sig_(sig) {
    struct sigaction refuse {};
    refuse.sa_handler = Refused;
    sigemptyset(&refuse.sa_mask);
    sigaction(sig_, &refuse, &before_);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig_);
    pthread_sigmask(SIG_UNBLOCK, &one, &mask_before_);
  }
  ~ForegroundOnly() {
    pthread_sigmask(SIG_SETMASK, &mask_before_, nullptr);
    sigaction(sig_, &before_, nullptr);
  }
  ForegroundOnly(const ForegroundOnly&) = delete;
  ForegroundOnly& operator=(const ForegroundOnly&) = delete;

 private:
  static void Refused(int) {}
  int sig_;
  struct sigaction before_ {};
  sigset_t mask_before_;
};

// Reads and drops what was typed and not read. Not tcflush: that drops
// what the kernel has not yet handed to the terminal's input even when the
// call itself is refused to a process in the background.
void DropUnread(int fd) {
  ForegroundOnly only(SIGTTIN);
  for (int i = 0; i < 64; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return;
    char bytes[256];
    if (read(fd, bytes, sizeof bytes) <= 0) return;
  }
}

// No line buffering, no echo, Ctrl+C and Ctrl+Z still signals, Enter gives
// CR, Ctrl+S and Ctrl+Q are keys; output processing as it was.
termios RawFrom(const termios& found) {
  termios raw = found;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

// Reports the terminal sent before it saw the pop (the release of the keys
// of Ctrl+C, say) are still on their way and would reach the shell as typed
// text. The device attributes request sent after the pop is answered after
// them: input is read and dropped up to that answer, for kPopWaitMs at most.
void DropUpToAttributes(int fd) {
  const long long deadline = NowMillis() + kPopWaitMs;
  int state = 0;  // 1 after ESC, 2 after ESC [, 3 in ESC [ ? parameters
  for (;;) {
    const long long left = deadline - NowMillis();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return;
    char bytes[256];
    ssize_t n = read(fd, bytes, sizeof bytes);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = bytes[i];
      if (c == '\x1b') {
        state = 1;
      } else if (state == 1) {
        state = c == '[' ? 2 : 0;
      } else if (state == 2) {
        state = c == '?' ? 3 : 0;
      } else if (state == 3) {
        if (c == 'c') return;
        if ((c < '0' || c > '9') && c != ';') state = 0;
      }
    }
  }
}

// In the background the input is the shell's: the pop goes alone.
void PopKeyFlags(int fd, bool in_foreground) {
  if (!H().pushed) return;
  H().pushed = 0;
  if (!in_foreground) {
    WriteWhole(fd, kPop, sizeof kPop - 1, /*wait_for_room=*/false);
    return;
  }
  WriteWhole(fd, kPopThenAsk, sizeof kPopThenAsk - 1, /*wait_for_room=*/false);
  DropUpToAttributes(fd);
}

// The shell's prompt starts on a fresh row.
void EndOpenLine() {
  const int fd = H().held.line_fd;
  if (fd < 0 || !H().held.line_open) return;
  H().held.line_open = 0;
  WriteWhole(fd, "\r\n", 2, /*wait_for_room=*/false);
}

// Sends the output held, gives the terminal back and ends the line, once
// for the process. A second handler (a fault on another thread) waits, at
// most a second, for the first to have done so.
void Leave() {
  if (H().leaving.exchange(1) == 0) {
    SendHeldInHandler(H().held);
    GiveTerminal();
    EndOpenLine();
    H().left.store(1);
    return;
  }
  for (int i = 0; i < 1000 && H().left.load() == 0; ++i) SleepMillis(1);
}

void OnEnd(int) {
  Leave();
  _exit(0);
}

void OnFatal(int sig, siginfo_t* info, void*) {
  Leave();
  sigaction(sig, &H().before[sig], nullptr);
  if (IsFault(sig) && info != nullptr && info->si_code > 0) return;
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  raise(sig);  // blocked while this handler runs: delivered on the unblock
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
}

// True when SIGCONT came while a handler held it off.
bool ContinuePending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, SIGCONT) == 1;
}

// Stops for real with the default action. SIGTSTP stays blocked from the
// moment the program is continued until this handler is in place again, so
// a second Ctrl+Z is never taken without the terminal being given back.
// SIGCONT, held off meanwhile, takes the terminal when this returns.
//
// Under a wrapper script the shell sees the script stop and may continue
// the job before this process has stopped: raising SIGTSTP after that
// SIGCONT would discard it and stop the process for good, so a SIGCONT
// already there means no stop. In an orphaned process group the stop is
// discarded and no SIGCONT comes: the terminal is taken back here.
void OnStop(int) {
  const int saved_errno = errno;
  SendHeldInHandler(H().held);
  GiveTerminal();
  struct sigaction ours {
  }, stop{};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, &ours);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  // Nothing between the look for a SIGCONT and the stop: one that comes
  // in between is lost to it.
  if (ContinuePending()) {
    sigaction(SIGTSTP, &ours, nullptr);
    errno = saved_errno;
    return;
  }
  raise(SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &tstp, nullptr);  // stopped here
  pthread_sigmask(SIG_BLOCK, &tstp, nullptr);
  sigaction(SIGTSTP, &ours, nullptr);
  if (!ContinuePending()) TakeTerminal(/*drop_input=*/false);
  errno = saved_errno;
}

void OnContinue(int) {
  const int saved_errno = errno;
  TakeTerminal(/*drop_input=*/true);
  H().resumes.fetch_add(1);
  errno = saved_errno;
}

void OnResize(int) { H().resizes.fetch_add(1); }

// Every signal a handler takes, and the two that stop a background job
// touching the terminal: held off while any handler runs, and by
// HoldSignals.
sigset_t HeldSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) sigaddset(&set, sig);
  for (int sig : kFatalSignals) sigaddset(&set, sig);
  for (int sig : {SIGTSTP, SIGCONT, SIGWINCH, SIGTTIN, SIGTTOU})
    sigaddset(&set, sig);
  return set;
}

bool g_resizes_signalled = false;

// False when the signal was ignored at start and is left so.
bool Catch(int sig, void (*handler)(int), bool fatal) {
  struct sigaction old {};
  sigaction(sig, nullptr, &old);
  if (old.sa_handler == SIG_IGN) return false;
  struct sigaction action {};
  action.sa_mask = HeldSet();
  action.sa_flags = SA_RESTART;
  if (fatal) {
    H().before[sig] = old;
    action.sa_sigaction = OnFatal;
    action.sa_flags |= SA_SIGINFO | SA_ONSTACK;
  } else {
    action.sa_handler = handler;
  }
  sigaction(sig, &action, nullptr);
  return true;
}

// A stack of its own for the handlers on the main thread, so that a stack
// overflow still gives the terminal back.
alignas(16) char g_handler_stack[64 * 1024];

}  // namespace

void InstallHandlers(bool terminal) {
  signal(SIGPIPE, SIG_IGN);
  stack_t stack{};
  stack.ss_sp = g_handler_stack;
  stack.ss_size = sizeof g_handler_stack;
  sigaltstack(&stack, nullptr);
  for (int sig : kEndSignals) Catch(sig, OnEnd, false);
  for (int sig : kFatalSignals) Catch(sig, nullptr, true);
  g_resizes_signalled = Catch(SIGWINCH, OnResize, false);
  if (!terminal) return;
  Catch(SIGTSTP, OnStop, false);
  Catch(SIGCONT, OnContinue, false);
}

bool ResizesAreSignalled() { return g_resizes_signalled; }

HoldSignals::HoldSignals() {
  sigset_t held = HeldSet();
  pthread_sigmask(SIG_BLOCK, &held, &before_);
}

HoldSignals::~HoldSignals() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

// Also when the program thinks it has the terminal: a shell that continues
// a job whose stop never reached this process (a wrapper script stopped
// first) has put its own settings on the terminal meanwhile.
void TakeTerminal(bool drop_input) {
  const int fd = H().fd;
  if (fd < 0 || !InForeground(fd)) return;
  termios now;
  if (tcgetattr(fd, &now) != 0) return;
  const bool ours = H().ever_taken && SameMode(now, H().raw);
  if (H().taken && ours) return;
  // A shell that kept the program's raw settings at the stop gives them
  // back with fg: the settings found before still hold.
  if (!ours) H().found = now;
  H().raw = RawFrom(H().found);
  H().ever_taken = 1;
  H().taken = 1;
  {
    ForegroundOnly only(SIGTTOU);
    if (tcsetattr(fd, TCSANOW, &H().raw) != 0) {
      H().taken = 0;
      return;
    }
  }
  if (drop_input) DropUnread(fd);
  if (H().protocol && !H().pushed) PushKeyFlags();
}

void GiveTerminal() {
  // Line wrap on again where the program had turned it off (SetConsoleMode
  // in kernel32.cc); after the output held, which may turn it off still.
  if (const int screen = H().unwrapped; screen >= 0)
    WriteWhole(screen, kWrapOn.data(), kWrapOn.size(), /*wait_for_room=*/false);
  const int fd = H().fd;
  if (fd < 0) return;
  const bool foreground = InForeground(fd);
  if (foreground && H().taken && H().asking) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) SleepMillis(5);  // the rest of the answer
  }
  PopKeyFlags(fd, foreground);
  if (foreground && H().taken) {
    DropUnread(fd);
    ForegroundOnly only(SIGTTOU);
    tcsetattr(fd, TCSANOW, &H().found);
  }
  H().taken = 0;
}

// tcflush, for what a program hands over as it ends; the ways out by a
// signal read and drop instead (DropUnread), since the shell may have the
// terminal by then.
bool FlushInput() {
  const int fd = H().fd;
  if (fd < 0 || !InForeground(fd)) return true;
  ForegroundOnly only(SIGTTOU);
  return tcflush(fd, TCIFLUSH) == 0;
}

void PushKeyFlags() {
  const int fd = H().fd;
  if (fd < 0) return;
  H().pushed = 1;
  WriteWhole(fd, kPushFlags, sizeof kPushFlags - 1, /*wait_for_room=*/false);
}

void EndAsHangUp() {
  Leave();
  _exit(0);
}

}  // namespace term
