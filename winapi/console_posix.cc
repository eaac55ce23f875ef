// The console and file calls of kernel32 on a POSIX terminal.
//
// The standard handles stand for file descriptors 0, 1 and 2. An output
// handle is a screen buffer when its descriptor is a terminal; the input
// handle is a console input queue when descriptor 0 is one.
//
// From the program's start to its end that terminal is in raw mode (no line
// buffering, no echo; Ctrl+C and Ctrl+Z still raise their signals, output
// processing is left alone), so a key typed at any moment waits in the queue
// instead of being echoed. The terminal's settings are put back at exit and
// on every signal that ends or suspends the program, and input not read by
// then is discarded: no key typed for the program reaches the shell. After
// Ctrl+Z the program takes the terminal again when it is continued in the
// foreground.
//
// The cursor position comes from the terminal itself (ESC [ 6 n). Between
// two answers the layer follows the program's own output for as long as its
// effect on the cursor is certain (see CursorModel), so that a status line
// redrawn a hundred times a second does not cost two round trips to the
// terminal each time. Keys that arrive while an answer is awaited go into
// the input queue in order. A
// terminal that does not answer in time is taken for one that never will:
// from then on the query fails at once. When standard input is not a
// terminal, the answers are read from the controlling terminal, which is then
// in raw mode for the run too, and other bytes from it are dropped.
//
// A terminal on standard input is asked at start whether it speaks the
// progressive keyboard protocol (ESC [ ? u, then ESC [ c, which every
// terminal answers: an answer to the second alone is a no). If it does, the
// program pushes flags that make it report every key's press, repeats and
// release as escape sequences, and pops them whenever it gives the terminal
// back (at exit, on a signal that ends or stops it), before the settings are
// restored; it pushes them again when it takes the terminal back. Ctrl+C,
// Ctrl+\ and Ctrl+Z then arrive as key reports instead of signals, and the
// program raises the signal the terminal would have.
#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "winapi/record_queue.h"
#include "winapi/term_input.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a terminal may take to answer a cursor position request, and how
// long an ESC waits for the rest of an escape sequence.
constexpr milliseconds kReportWait{1000};
constexpr milliseconds kEscapeWait{50};
// How long the start waits for the answers about the keyboard protocol.
constexpr milliseconds kProtocolWait{300};

// The keyboard protocol's flags: disambiguate escape codes (1), report event
// types (2), report alternate keys (4: the shifted key, for the character),
// report all keys as escape codes (8).
constexpr int kKeyFlags = 1 | 2 | 4 | 8;
constexpr char kPushFlags[] = "\x1b[>15u";
static_assert(kKeyFlags == 15);

// The three standard handles; a HANDLE is the address of one of them.
struct StdHandle {
  int fd;
};
StdHandle g_handles[3] = {{0}, {1}, {2}};

int FdOf(HANDLE handle) {
  for (StdHandle& h : g_handles) {
    if (handle == &h) return h.fd;
  }
  return -1;
}

// What each standard descriptor is does not change while the program runs,
// so it is looked at once, on first use: -1 not yet, 0 no, 1 yes.
struct Facts {
  int open = -1;
  int terminal = -1;
  int type = -1;  // a FILE_TYPE_ value
};
Facts g_facts[3];

bool IsTerminal(int fd) {
  if (fd < 0 || fd > 2) return fd >= 0 && isatty(fd) == 1;
  if (g_facts[fd].terminal < 0) g_facts[fd].terminal = isatty(fd) == 1;
  return g_facts[fd].terminal == 1;
}
bool IsScreen(int fd) { return (fd == 1 || fd == 2) && IsTerminal(fd); }

// ---- Raw mode and signals. The handlers see only these plain values.
//
// The program takes the terminal when it starts and again each time it is
// continued in the foreground: it keeps the settings it finds and puts the
// terminal in raw mode. It gives the terminal back, as it was found, when it
// ends or is stopped. A process in the background never touches the
// terminal's settings (it would be stopped for trying).

volatile sig_atomic_t g_fd = -1;      // the terminal the program takes
volatile sig_atomic_t g_is_raw = 0;   // taken, and in raw mode now
termios g_saved;                      // its settings as found
std::atomic<int> g_resumes{0};        // times the program was continued
std::atomic<bool> g_asking{false};    // a question to the terminal is open
volatile sig_atomic_t g_key_flags = 0;  // the terminal speaks the protocol
volatile sig_atomic_t g_pushed = 0;     // and the program's flags are on
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

bool InForeground(int fd) { return tcgetpgrp(fd) == getpgrp(); }

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

void WriteAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

// Async-signal-safe, as is PopKeyFlags. Marked pushed before the write, so
// that a signal in between pops them too.
void PushKeyFlags(int fd) {
  g_pushed = 1;
  WriteAll(fd, kPushFlags, sizeof kPushFlags - 1);
}

long long NowMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Pops the flags, then waits until the terminal has done so: reports it
// sent before it saw the pop (the release of the keys of Ctrl+C, say) are
// still on their way, and would reach the shell as typed text. A device
// attributes request sent after the pop is answered after them, so they are
// read and dropped up to that answer, waiting at most kPopWait.
constexpr int kPopWait = 200;  // ms

void PopKeyFlags(int fd) {
  if (!g_pushed) return;
  static constexpr char kPopThenAsk[] = "\x1b[<u\x1b[c";
  WriteAll(fd, kPopThenAsk, sizeof kPopThenAsk - 1);
  g_pushed = 0;
  const long long deadline = NowMillis() + kPopWait;
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
        if (c == 'c') return;  // the answer: all before it is dropped
        if ((c < '0' || c > '9') && c != ';') state = 0;
      }
    }
  }
}

// Async-signal-safe. `drop_input`: what came in before is not for the
// program (the shell had the terminal, or a cursor answer is stale).
void TakeTerminal(bool drop_input) {
  int fd = g_fd;
  if (fd < 0 || g_is_raw || !InForeground(fd)) return;
  if (tcgetattr(fd, &g_saved) != 0) return;
  termios raw = RawFrom(g_saved);
  if (drop_input) tcflush(fd, TCIFLUSH);
  if (tcsetattr(fd, TCSANOW, &raw) == 0) g_is_raw = 1;
  if (g_is_raw && g_key_flags) PushKeyFlags(fd);
}

// Async-signal-safe: puts the terminal back as it was found and drops what
// has been typed but not read. An answer to a question (the cursor, the
// keyboard protocol) still on its way is let in first, so that it is
// dropped too instead of reaching the shell as typed text. The protocol's
// flags are popped before the settings go back.
void GiveTerminal() {
  int fd = g_fd;
  if (fd < 0 || !g_is_raw || !InForeground(fd)) return;
  if (g_asking.load()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      timespec rest{0, 5000000};  // the rest of the answer
      nanosleep(&rest, nullptr);
    }
  }
  PopKeyFlags(fd);
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &g_saved);
  g_is_raw = 0;
}

void OnEndSignal(int sig) {
  int was_raw = g_is_raw;
  GiveTerminal();
  // Keys that interrupt end the line, so the shell's prompt starts a new one.
  if (was_raw && (sig == SIGINT || sig == SIGQUIT)) {
    ssize_t ignored = write(g_fd, "\r\n", 2);
    (void)ignored;
  }
  _exit(0);
}

void Catch(int sig, void (*handler)(int));

void OnStopSignal(int) {
  int saved_errno = errno;
  GiveTerminal();
  // Stop for real, with the default action; SIGCONT resumes here.
  signal(SIGTSTP, SIG_DFL);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  raise(SIGTSTP);
  Catch(SIGTSTP, OnStopSignal);
  errno = saved_errno;
}

void OnContinueSignal(int) {
  int saved_errno = errno;
  TakeTerminal(/*drop_input=*/true);
  g_resumes.fetch_add(1);
  errno = saved_errno;
}

// Installs `handler` for `sig` unless the signal was ignored when the
// program started (as a shell does for background jobs).
void Catch(int sig, void (*handler)(int)) {
  struct sigaction old {};
  sigaction(sig, nullptr, &old);
  if (old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(sig, &action, nullptr);
}

// ---- The terminal the input comes from.

class Terminal {
 public:
  Terminal() {
    signal(SIGPIPE, SIG_IGN);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) Catch(sig, OnEndSignal);

    if (IsTerminal(0)) {
      fd_ = 0;
      keys_count_ = true;
    } else if (IsTerminal(1)) {
      own_fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
      fd_ = own_fd_;
    }
    if (fd_ < 0) return;
    Catch(SIGTSTP, OnStopSignal);
    Catch(SIGCONT, OnContinueSignal);
    g_fd = fd_;
    TakeTerminal(/*drop_input=*/false);
    AskKeyProtocol();
  }

  ~Terminal() {
    GiveTerminal();
    g_fd = -1;
    if (own_fd_ >= 0) close(own_fd_);
  }

  // Key records are only for a terminal on standard input.
  bool HasKeys() const { return keys_count_ && IsTerminal(0); }
  term::RecordQueue& queue() { return queue_; }

  // Takes in everything the terminal has sent so far, without waiting.
  void Poll() {
    AskKeyProtocol();
    while (ReadSome(0)) {
    }
    ExpireEscape();
  }

  // Waits until the queue holds a record.
  void WaitForRecord() {
    AskKeyProtocol();
    Poll();
    while (queue_.empty()) {
      int timeout = -1;
      if (decoder_.Holding()) timeout = MillisLeft(last_byte_ + kEscapeWait);
      ReadSome(timeout);
      ExpireEscape();
    }
  }

  // Asks the terminal where the cursor is, writing the request to `out_fd`;
  // gives the 1-based row and column.
  bool CursorPosition(int out_fd, term::CursorReport& where) {
    if (dead_ || fd_ < 0 || !WaitForForeground()) return false;
    AskKeyProtocol();
    awaiting_ = true;
    g_asking.store(true);
    int resumes = -1;
    Clock::time_point deadline;
    while (reports_.empty() || resumes != g_resumes.load()) {
      if (resumes != g_resumes.load()) {
        // First time round, or the program was stopped and continued while
        // it waited: (again) ask where the cursor is now.
        resumes = g_resumes.load();
        reports_.clear();
        static constexpr char kRequest[] = "\x1b[6n";
        DWORD written = 0;
        WriteFile(&g_handles[out_fd == 2 ? 2 : 1], kRequest,
                  sizeof kRequest - 1, &written, nullptr);
        deadline = Clock::now() + kReportWait;
      }
      if (Clock::now() >= deadline) break;
      int timeout = MillisLeft(deadline);
      if (decoder_.Holding())
        timeout = std::min(timeout, MillisLeft(last_byte_ + kEscapeWait));
      ReadSome(timeout);
      ExpireEscape();
    }
    awaiting_ = false;
    g_asking.store(false);
    if (reports_.empty()) {
      dead_ = true;
      return false;
    }
    where = reports_.front();
    return true;
  }

 private:
  // Asks whether the terminal speaks the keyboard protocol and, if it does,
  // turns its key reports on. Keys typed meanwhile are queued as usual.
  // Once, as soon as the program has the terminal: at start, or when a job
  // started in the background first has it in the foreground.
  void AskKeyProtocol() {
    if (asked_ || !keys_count_ || !g_is_raw) return;
    asked_ = true;
    static constexpr char kQuery[] = "\x1b[?u\x1b[c";
    if (write(fd_, kQuery, sizeof kQuery - 1) !=
        static_cast<ssize_t>(sizeof kQuery - 1))
      return;
    asking_protocol_ = true;
    g_asking.store(true);  // an answer on its way is dropped at exit too
    const Clock::time_point deadline = Clock::now() + kProtocolWait;
    while (!attributes_seen_ && Clock::now() < deadline) {
      int timeout = MillisLeft(deadline);
      if (decoder_.Holding())
        timeout = std::min(timeout, MillisLeft(last_byte_ + kEscapeWait));
      ReadSome(timeout);
      ExpireEscape();
    }
    asking_protocol_ = false;
    g_asking.store(false);
    if (!protocol_seen_) return;
    g_key_flags = kKeyFlags;
    PushKeyFlags(fd_);
    decoder_.ReportEvents(true);
  }

  // With key reports on, the keys that signal come as reports: the program
  // raises the signal the terminal would have raised, and the key itself is
  // not queued (as a console does with Ctrl+C). The release of Ctrl+Z's Z
  // after a stop is dropped with it.
  bool Signalled(const INPUT_RECORD& record) {
    if (!g_pushed || !(g_saved.c_lflag & ISIG)) return false;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (c == 0 || c == _POSIX_VDISABLE) return false;
    int sig = c == g_saved.c_cc[VINTR]   ? SIGINT
              : c == g_saved.c_cc[VQUIT] ? SIGQUIT
              : c == g_saved.c_cc[VSUSP] ? SIGTSTP
                                         : 0;
    if (sig == 0) return false;
    // To the foreground job, as the terminal sends it; a handler of ours
    // runs before kill returns.
    if (key.bKeyDown) kill(0, sig);
    return true;
  }

  // The answer to a request is input, which a job in the background may not
  // read: like a read, the request stops the job until it is in the
  // foreground. False when that cannot happen.
  bool WaitForForeground() {
    for (;;) {
      pid_t foreground = tcgetpgrp(fd_);
      if (foreground < 0) return false;
      if (foreground == getpgrp()) return true;
      struct sigaction action {};
      sigset_t blocked;
      sigaction(SIGTTIN, nullptr, &action);
      sigprocmask(SIG_BLOCK, nullptr, &blocked);
      if (action.sa_handler == SIG_IGN || sigismember(&blocked, SIGTTIN))
        return false;
      int resumes = g_resumes.load();
      kill(0, SIGTTIN);
      // Not stopped (an orphaned job is not): nobody will bring it back.
      if (g_resumes.load() == resumes) return false;
    }
  }

  static int MillisLeft(Clock::time_point until) {
    auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
  }

  // Reads one batch of bytes, waiting up to `timeout` ms (-1: for ever) for
  // it. False when nothing came.
  bool ReadSome(int timeout) {
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, timeout);
    if (ready <= 0) return false;
    char bytes[256];
    ssize_t n = read(fd_, bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    // The terminal is gone: the program ends as when it hangs up.
    if (n <= 0) OnEndSignal(SIGHUP);
    if (resumes_seen_ != g_resumes.load()) {
      // Stopped and continued: what was down then has been dropped.
      resumes_seen_ = g_resumes.load();
      decoder_.ForgetPressed();
    }
    term::Decoded decoded;
    decoder_.Feed(std::string_view(bytes, static_cast<std::size_t>(n)),
                  decoded);
    last_byte_ = Clock::now();
    Take(decoded);
    return true;
  }

  void ExpireEscape() {
    if (!decoder_.Holding() || Clock::now() < last_byte_ + kEscapeWait) return;
    term::Decoded decoded;
    decoder_.Expire(decoded);
    Take(decoded);
  }

  void Take(const term::Decoded& decoded) {
    if (asking_protocol_) {
      if (!decoded.protocol_flags.empty() && !attributes_seen_)
        protocol_seen_ = true;
      if (decoded.attribute_answers > 0) attributes_seen_ = true;
    }
    if (keys_count_) {
      for (const INPUT_RECORD& record : decoded.keys) {
        if (!Signalled(record)) queue_.Append(&record, 1);
      }
    }
    // An answer nobody waits for (a late one) is dropped.
    if (awaiting_)
      reports_.insert(reports_.end(), decoded.reports.begin(),
                      decoded.reports.end());
  }

  int fd_ = -1;
  int own_fd_ = -1;
  bool keys_count_ = false;
  bool dead_ = false;
  bool awaiting_ = false;
  bool asked_ = false;
  bool asking_protocol_ = false;
  bool protocol_seen_ = false;
  bool attributes_seen_ = false;
  int resumes_seen_ = 0;
  term::InputDecoder decoder_;
  term::RecordQueue queue_;
  std::vector<term::CursorReport> reports_;
  Clock::time_point last_byte_;
};

Terminal& TheTerminal() {
  static Terminal terminal;
  return terminal;
}

// Raw mode from the very start, before any output.
[[maybe_unused]] const bool g_started = (TheTerminal(), true);

SHORT ToShort(long value) {
  return static_cast<SHORT>(std::clamp<long>(value, 0, 32767));
}

// The window's size is asked of the terminal again only after SIGWINCH
// said it changed (or on every call where that signal is ignored).
std::atomic<int> g_resizes{0};

void OnResize(int) { g_resizes.fetch_add(1); }

bool ResizesAreSignalled() {
  static const bool caught = [] {
    struct sigaction old {};
    sigaction(SIGWINCH, nullptr, &old);
    if (old.sa_handler == SIG_IGN) return false;
    Catch(SIGWINCH, OnResize);
    return true;
  }();
  return caught;
}

void WindowSize(int fd, winsize& size) {
  struct Known {
    int resizes = -1;
    winsize size{};
  };
  static Known known[3];
  const bool cached = ResizesAreSignalled() && fd >= 0 && fd <= 2;
  const int resizes = g_resizes.load();
  if (cached && known[fd].resizes == resizes) {
    size = known[fd].size;
    return;
  }
  size = winsize{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    size.ws_col = 80;  // a terminal that does not know its size
    size.ws_row = 24;
  }
  if (size.ws_row == 0) size.ws_row = 24;
  if (cached) known[fd] = Known{resizes, size};
}

// ---- Where the cursor is between two answers of the terminal.
//
// After an answer, or after one of our own cursor moves, the position is
// known. Text that the program writes then moves it predictably as long as
// it is printable ASCII (or CR) and stays short of the last column; anything
// else (a line feed, another control byte, an escape sequence, non-ASCII
// text, a character written in the last column, where terminals differ) makes
// it unknown, and so does a change of the terminal's size or a stop and
// continue (the shell may have written in between). Unknown means: ask the
// terminal.
struct CursorModel {
  bool known = false;
  int row = 0;     // 0-based
  int column = 0;  // 0-based
  unsigned short rows = 0;
  unsigned short columns = 0;
  int resumes = 0;
};

CursorModel g_cursor[3];  // for descriptors 1 and 2 (0 unused)

// Standard error shares the model of standard output when both are the same
// terminal.
CursorModel& ModelOf(int fd) {
  static const bool shared = [] {
    struct stat out, err;
    return fstat(1, &out) == 0 && fstat(2, &err) == 0 &&
           out.st_rdev == err.st_rdev && S_ISCHR(out.st_mode);
  }();
  return g_cursor[fd == 2 && shared ? 1 : fd];
}

void Know(int fd, int row, int column, const winsize& size) {
  CursorModel& m = ModelOf(fd);
  m.known = true;
  m.row = row;
  m.column = column;
  m.rows = size.ws_row;
  m.columns = size.ws_col;
  m.resumes = g_resumes.load();
}

void Follow(int fd, const char* bytes, DWORD length) {
  CursorModel& m = ModelOf(fd);
  for (DWORD i = 0; i < length && m.known; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      m.column = 0;
    } else if (c >= 0x20 && c < 0x7f && m.column + 1 < m.columns) {
      ++m.column;
    } else {
      m.known = false;
    }
  }
}

bool StillKnown(int fd, const winsize& size) {
  const CursorModel& m = ModelOf(fd);
  return m.known && m.rows == size.ws_row && m.columns == size.ws_col &&
         m.resumes == g_resumes.load();
}

}  // namespace

extern "C" {

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  TheTerminal();
  int fd = nStdHandle == STD_INPUT_HANDLE    ? 0
           : nStdHandle == STD_OUTPUT_HANDLE ? 1
           : nStdHandle == STD_ERROR_HANDLE  ? 2
                                             : -1;
  if (fd < 0) return INVALID_HANDLE_VALUE;
  if (g_facts[fd].open < 0) g_facts[fd].open = fcntl(fd, F_GETFD) >= 0;
  if (g_facts[fd].open == 0) return nullptr;  // closed: no such handle
  return &g_handles[fd];
}

BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
  if (lpMode == nullptr) return FALSE;
  *lpMode = 0;
  int fd = FdOf(hConsoleHandle);
  if (!IsTerminal(fd)) return FALSE;
  *lpMode = fd == 0 ? ENABLE_PROCESSED_INPUT
                    : ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
  return TRUE;
}

BOOL WINAPI GetConsoleScreenBufferInfo(
    HANDLE hConsoleOutput,
    PCONSOLE_SCREEN_BUFFER_INFO lpConsoleScreenBufferInfo) {
  int fd = FdOf(hConsoleOutput);
  if (lpConsoleScreenBufferInfo == nullptr || !IsScreen(fd)) return FALSE;
  winsize size;
  WindowSize(fd, size);
  term::CursorReport where{};
  if (StillKnown(fd, size)) {
    where.row = ModelOf(fd).row + 1;
    where.column = ModelOf(fd).column + 1;
  } else {
    if (!TheTerminal().CursorPosition(fd, where)) return FALSE;
    Know(fd, where.row - 1, where.column - 1, size);
  }

  CONSOLE_SCREEN_BUFFER_INFO& info = *lpConsoleScreenBufferInfo;
  info = CONSOLE_SCREEN_BUFFER_INFO{};
  info.dwSize = COORD{ToShort(size.ws_col), ToShort(size.ws_row)};
  info.dwCursorPosition = COORD{ToShort(where.column - 1), ToShort(where.row - 1)};
  info.wAttributes = 0x07;  // light grey on black
  info.srWindow = SMALL_RECT{0, 0, ToShort(size.ws_col - 1),
                             ToShort(size.ws_row - 1)};
  info.dwMaximumWindowSize = info.dwSize;
  return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE hConsoleOutput,
                                     COORD dwCursorPosition) {
  int fd = FdOf(hConsoleOutput);
  if (!IsScreen(fd)) return FALSE;
  // As on Windows, a position outside the buffer is refused.
  winsize size;
  WindowSize(fd, size);
  if (dwCursorPosition.X < 0 || dwCursorPosition.Y < 0 ||
      dwCursorPosition.X >= size.ws_col || dwCursorPosition.Y >= size.ws_row)
    return FALSE;
  // Already there (standard error sharing the screen of standard output
  // is told the same position right after it): nothing to send.
  const CursorModel& m = ModelOf(fd);
  if (StillKnown(fd, size) && m.row == dwCursorPosition.Y &&
      m.column == dwCursorPosition.X)
    return TRUE;
  char move[32];
  int length = std::snprintf(move, sizeof move, "\x1b[%d;%dH",
                             dwCursorPosition.Y + 1, dwCursorPosition.X + 1);
  DWORD written = 0;
  if (!WriteFile(hConsoleOutput, move, static_cast<DWORD>(length), &written,
                 nullptr))
    return FALSE;
  Know(fd, dwCursorPosition.Y, dwCursorPosition.X, size);
  return TRUE;
}

BOOL WINAPI PeekConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer,
                              DWORD nLength, LPDWORD lpNumberOfEventsRead) {
  if (lpNumberOfEventsRead == nullptr) return FALSE;
  *lpNumberOfEventsRead = 0;
  Terminal& terminal = TheTerminal();
  if (FdOf(hConsoleInput) != 0 || !terminal.HasKeys()) return FALSE;
  if (lpBuffer == nullptr && nLength > 0) return FALSE;
  terminal.Poll();
  *lpNumberOfEventsRead = terminal.queue().Peek(lpBuffer, nLength);
  return TRUE;
}

BOOL WINAPI ReadConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer,
                              DWORD nLength, LPDWORD lpNumberOfEventsRead) {
  if (lpNumberOfEventsRead == nullptr) return FALSE;
  *lpNumberOfEventsRead = 0;
  Terminal& terminal = TheTerminal();
  if (FdOf(hConsoleInput) != 0 || !terminal.HasKeys()) return FALSE;
  if (lpBuffer == nullptr || nLength == 0) return FALSE;
  terminal.WaitForRecord();
  *lpNumberOfEventsRead = terminal.queue().Take(lpBuffer, nLength);
  return TRUE;
}

BOOL WINAPI WriteConsoleInputA(HANDLE hConsoleInput,
                               const INPUT_RECORD* lpBuffer, DWORD nLength,
                               LPDWORD lpNumberOfEventsWritten) {
  if (lpNumberOfEventsWritten == nullptr) return FALSE;
  *lpNumberOfEventsWritten = 0;
  Terminal& terminal = TheTerminal();
  if (FdOf(hConsoleInput) != 0 || !terminal.HasKeys()) return FALSE;
  if (lpBuffer == nullptr && nLength > 0) return FALSE;
  *lpNumberOfEventsWritten = terminal.queue().Append(lpBuffer, nLength);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer,
                      DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  DWORD done = 0;
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  int fd = FdOf(hFile);
  if (fd < 0 || (lpBuffer == nullptr && nNumberOfBytesToWrite > 0))
    return FALSE;
  const char* bytes = static_cast<const char*>(lpBuffer);
  if (fd == 1 || fd == 2) Follow(fd, bytes, nNumberOfBytesToWrite);
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(fd, bytes + done, nNumberOfBytesToWrite - done);
    if (n > 0) {
      done += static_cast<DWORD>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};  // someone made it non-blocking
      poll(&p, 1, 100);
    } else {
      break;  // a closed pipe (EPIPE) or another error: the rest is lost
    }
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return done == nNumberOfBytesToWrite ? TRUE : FALSE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  int fd = FdOf(hFile);
  if (fd < 0) return FILE_TYPE_UNKNOWN;
  int& type = g_facts[fd].type;
  if (type >= 0) return static_cast<DWORD>(type);
  struct stat st;
  if (fstat(fd, &st) != 0) return FILE_TYPE_UNKNOWN;
  if (S_ISCHR(st.st_mode))
    type = FILE_TYPE_CHAR;
  else if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode))
    type = FILE_TYPE_DISK;
  else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    type = FILE_TYPE_PIPE;
  else
    type = FILE_TYPE_UNKNOWN;
  return static_cast<DWORD>(type);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  timespec left{static_cast<time_t>(dwMilliseconds / 1000),
                static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr)
    return lpString1 == lpString2 ? 0 : lpString1 == nullptr ? -1 : 1;
  auto lower = [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
  };
  for (std::size_t i = 0;; ++i) {
    int a = lower(lpString1[i]);
    int b = lower(lpString2[i]);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

}  // extern "C"
