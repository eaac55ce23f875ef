#include "winapi/input_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "winapi/screen.h"
#include "winapi/std_handles.h"
#include "winapi/terminal_owner.h"

namespace term {

namespace {

using std::chrono::milliseconds;

// How long a terminal may take to answer a cursor position request, and
// the start to answer about the keyboard protocol.
constexpr milliseconds kReportWait{1000};
constexpr milliseconds kProtocolWait{300};
// How long held bytes wait for the rest of their sequence: an ESC that may
// be the Escape key (or start a key's sequence) briefly; an answer whose
// rest is on its way (a string, a mouse report, a sequence with
// parameters) longer, since a gap inside one comes from the transport (a
// delayed acknowledgement over ssh stalls up to 200 ms).
constexpr milliseconds kEscapeWait{50};
constexpr milliseconds kAnswerWait{250};
constexpr milliseconds kForever{-1};
// How often input seen in the background is looked at again, in ms.
constexpr int kBackgroundLook = 10;

// What HandlerState::asking holds: the question whose answer is awaited.
constexpr int kNoQuestion = 0;
constexpr int kCursorQuestion = 1;
constexpr int kProtocolQuestion = 2;

constexpr char kCursorRequest[] = "\x1b[6n";
constexpr char kProtocolQuery[] = "\x1b[?u\x1b[c";

HandlerState& H() { return g_handler_state; }

int MillisLeft(std::chrono::steady_clock::time_point until) {
  auto left =
      std::chrono::ceil<milliseconds>(until - std::chrono::steady_clock::now())
          .count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

}  // namespace

InputReader::InputReader() {
  if (IsTerminal(0)) {
    fd_ = 0;
    keys_count_ = true;
  } else if (IsTerminal(1)) {
    own_fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    fd_ = own_fd_;
  }
  InstallHandlers(fd_ >= 0);
  if (fd_ < 0) return;
  {
    HoldSignals hold;
    H().fd = fd_;
    TakeTerminal(/*drop_input=*/false);
  }
  AskKeyProtocol();
}

InputReader::~InputReader() {
  Send();
  {
    HoldSignals hold;
    GiveTerminal();
    H().fd = -1;
  }
  if (own_fd_ >= 0) close(own_fd_);
}

void InputReader::Poll() {
  AskKeyProtocol();
  Pump(Until::kNothing, milliseconds(0));
}

void InputReader::WaitForRecord() {
  AskKeyProtocol();
  Pump(Until::kRecord, kForever);
}

bool InputReader::WaitForRecord(milliseconds wait) {
  AskKeyProtocol();
  return Pump(Until::kRecord, wait);
}

bool InputReader::Discard() {
  queue_.clear();
  decoder_.Reset();
  return fd_ < 0 || FlushInput();
}

bool InputReader::CursorPosition(int out_fd, CursorReport& where) {
  if (dead_ || fd_ < 0 || !WaitForForeground()) return false;
  AskKeyProtocol();
  request_fd_ = out_fd;
  H().asking = kCursorQuestion;
  SendCursorRequest();
  const bool answered = Pump(Until::kReport, kReportWait);
  H().asking = kNoQuestion;
  if (!answered) {
    dead_ = true;
    return false;
  }
  where = reports_.front();
  reports_.clear();
  return true;
}

// Asks whether the terminal speaks the keyboard protocol (an answer to the
// first question before the answer to the second, which every terminal
// gives) and if so turns its key reports on. Once, as soon as the program
// has the terminal: at start, or when a job started in the background
// first has it in the foreground.
void InputReader::AskKeyProtocol() {
  if (asked_ || !keys_count_ || !H().taken) return;
  asked_ = true;
  Send();
  if (write(fd_, kProtocolQuery, sizeof kProtocolQuery - 1) !=
      static_cast<ssize_t>(sizeof kProtocolQuery - 1))
    return;
  H().asking = kProtocolQuestion;
  Pump(Until::kAttributes, kProtocolWait);
  H().asking = kNoQuestion;
  if (!protocol_seen_) return;
  {
    HoldSignals hold;  // a stop in between would push the flags twice
    H().protocol = 1;
    PushKeyFlags();
  }
  decoder_.ReportEvents(true);
}

// The answer to a request is input, which a job in the background may not
// read: like a read, the request stops the job until it is in the
// foreground. False when that cannot happen.
bool InputReader::WaitForForeground() {
  for (;;) {
    pid_t foreground = tcgetpgrp(fd_);
    if (foreground < 0) return false;
    if (foreground == getpgrp()) return true;
    struct sigaction action {};
    sigset_t blocked;
    sigaction(SIGTTIN, nullptr, &action);
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    if (action.sa_handler == SIG_IGN || sigismember(&blocked, SIGTTIN))
      return false;
    const int resumes = H().resumes.load();
    kill(0, SIGTTIN);
    // Not stopped (an orphaned job is not): nobody will bring it back.
    if (H().resumes.load() == resumes) return false;
  }
}

// The request goes out with the output held before it.
void InputReader::SendCursorRequest() {
  reports_.clear();
  Emit(request_fd_, kCursorRequest, sizeof kCursorRequest - 1);
  Send();
}

// After a stop and continue: the keys held then, and the rest of any
// sequence begun, were dropped with the input, the shell may have moved the
// cursor, and the answer to an open question is lost, so it is asked
// again. True when it was.
bool InputReader::CatchUp() {
  const int resumes = H().resumes.load();
  if (resumes == resumes_seen_) return false;
  resumes_seen_ = resumes;
  decoder_.ForgetPressed();
  decoder_.Reset();
  ForgetCursors();
  if (H().asking == kCursorQuestion) {
    SendCursorRequest();
    return true;
  }
  if (H().asking == kProtocolQuestion) {
    Send();
    ssize_t ignored = write(fd_, kProtocolQuery, sizeof kProtocolQuery - 1);
    (void)ignored;
    return true;
  }
  return false;
}

bool InputReader::Done(Until until) const {
  switch (until) {
    case Until::kNothing: return false;
    case Until::kRecord: return !queue_.empty();
    case Until::kReport: return !reports_.empty();
    case Until::kAttributes: return attributes_seen_;
  }
  return false;
}

// The one wait loop: reads and decodes until `until` holds, or `wait` has
// passed with nothing more to read (kForever: no limit; 0: only what has
// come). Bytes held past their wait (HeldWait) are expired.
bool InputReader::Pump(Until until, milliseconds wait) {
  Clock::time_point deadline = Clock::now() + std::max(wait, milliseconds(0));
  for (;;) {
    if (CatchUp()) deadline = Clock::now() + wait;
    if (Done(until)) return true;
    int timeout = wait < milliseconds(0) ? -1 : MillisLeft(deadline);
    if (decoder_.Holding()) {
      const int held = MillisLeft(last_byte_ + HeldWait());
      timeout = timeout < 0 ? held : std::min(timeout, held);
    }
    const bool got = ReadSome(timeout);
    ExpireEscape();
    if (!got && wait >= milliseconds(0) && Clock::now() >= deadline)
      return Done(until);
  }
}

// Reads one batch of bytes, waiting up to `timeout_ms` (-1: for ever) for
// it. False when nothing came.
//
// Only what is there is read, so the read never waits: in the background
// (a stop that a continue cancelled, under a wrapper script) the bytes are
// the shell's, which takes them, and a read would wait for more once the
// program is back in the foreground. They are left to the shell, looked at
// again at most every kBackgroundLook.
bool InputReader::ReadSome(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  std::size_t want = 256;
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
    if (tcgetpgrp(fd_) != getpgrp()) {
      const int pause = timeout_ms < 0 ? kBackgroundLook
                                       : std::min(timeout_ms, kBackgroundLook);
      if (pause > 0) poll(nullptr, 0, pause);
      return false;
    }
    int available = 0;
    if (ioctl(fd_, FIONREAD, &available) != 0 || available <= 0) return false;
    want = std::min<std::size_t>(want, static_cast<std::size_t>(available));
  }
  char bytes[256];
  ssize_t n = read(fd_, bytes, want);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  if (n <= 0) EndAsHangUp();  // the terminal is gone
  Decoded decoded;
  decoder_.Feed(std::string_view(bytes, static_cast<std::size_t>(n)), decoded);
  last_byte_ = Clock::now();
  Take(decoded);
  return true;
}

milliseconds InputReader::HeldWait() const {
  return decoder_.HeldWait() == Hold::kAnswer ? kAnswerWait : kEscapeWait;
}

void InputReader::ExpireEscape() {
  if (!decoder_.Holding() || Clock::now() < last_byte_ + HeldWait()) return;
  Decoded decoded;
  decoder_.Expire(decoded);
  Take(decoded);
}

void InputReader::Take(const Decoded& decoded) {
  if (H().asking == kProtocolQuestion) {
    if (!decoded.protocol_flags.empty() && !attributes_seen_)
      protocol_seen_ = true;
    if (decoded.attribute_answers > 0) attributes_seen_ = true;
  }
  if (keys_count_) {
    for (const INPUT_RECORD& record : decoded.keys) {
      if (!Signalled(record)) queue_.AppendTyped(record);
    }
  }
  // An answer nobody waits for (a late one) is dropped.
  if (H().asking == kCursorQuestion)
    reports_.insert(reports_.end(), decoded.reports.begin(),
                    decoded.reports.end());
}

// With key reports on, the keys that signal come as reports: the program
// raises the signal the terminal would have raised, to its process group
// as the terminal does, and the key itself is not queued (as a console
// does with Ctrl+C). The release after a stop is dropped with it.
bool InputReader::Signalled(const INPUT_RECORD& record) {
  const termios& found = H().found;
  if (!H().pushed || !(found.c_lflag & ISIG)) return false;
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  const unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
  if (c == 0 || c == _POSIX_VDISABLE) return false;
  const int sig = c == found.c_cc[VINTR]   ? SIGINT
                  : c == found.c_cc[VQUIT] ? SIGQUIT
                  : c == found.c_cc[VSUSP] ? SIGTSTP
                                           : 0;
  if (sig == 0) return false;
  if (!key.bKeyDown) return true;
  // Given back before the others in the group (a wrapper script) stop and
  // the shell takes the terminal.
  if (sig == SIGTSTP) {
    HoldSignals hold;
    GiveTerminal();
  }
  kill(0, sig);  // a handler of ours runs before it returns
  return true;
}

}  // namespace term
