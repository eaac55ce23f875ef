#include "harness/pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace pty {

struct EmulatorCallbacks {
  static int Damage(VTermRect rect, void* user) {
    static_cast<Session*>(user)->NoteDamage(rect.start_row, rect.end_row);
    return 1;
  }
  static int MoveRect(VTermRect dest, VTermRect, void* user) {
    static_cast<Session*>(user)->NoteDamage(dest.start_row, dest.end_row);
    return 0;  // let the screen redraw the moved cells as damage too
  }
  static int PushLine(int, const VTermScreenCell*, void* user) {
    auto* self = static_cast<Session*>(user);
    self->NoteDamage(0, static_cast<int>(self->damage_.size()));
    return 1;
  }
  static void Output(const char* bytes, size_t length, void* user) {
    auto* self = static_cast<Session*>(user);
    if (self->answer_) self->replies_.append(bytes, length);
  }
};

namespace {

const VTermScreenCallbacks kScreenCallbacks = {EmulatorCallbacks::Damage,
                                               EmulatorCallbacks::MoveRect,
                                               nullptr,
                                               nullptr,
                                               nullptr,
                                               nullptr,
                                               EmulatorCallbacks::PushLine,
                                               nullptr};

void WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

// Appends a UTF-8 encoding of `c` to `out`.
void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

Session::Session(int rows, int cols)
    : rows_(rows),
      cols_(cols),
      damage_(static_cast<size_t>(rows), 0),
      written_at_(static_cast<size_t>(rows)) {
  vt_ = vterm_new(rows, cols);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, EmulatorCallbacks::Output, this);
  screen_ = vterm_obtain_screen(vt_);
  vterm_screen_set_callbacks(screen_, &kScreenCallbacks, this);
  vterm_screen_reset(screen_, 1);
}

Session::~Session() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  if (reader_.joinable()) reader_.join();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  vterm_free(vt_);
}

void Session::AnswerQueries(bool answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

bool Session::Start(const Command& command) {
  if (command.argv.empty() || pid_ > 0) return false;
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows());
  size.ws_col = static_cast<unsigned short>(cols());
  if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  tcgetattr(slave_, &before_);

  // Everything the child needs is built before the fork.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : command.env) {
      if (std::string_view(extra).substr(0, extra.find('=')) == name)
        replaced = true;
    }
    if (!replaced) env_strings.emplace_back(entry);
  }
  for (const std::string& extra : command.env) env_strings.push_back(extra);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings = command.argv;
  std::vector<char*> argv;
  for (std::string& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGTTIN,
                    SIGTTOU, SIGCHLD})
      signal(sig, SIG_DFL);
    setsid();
    ioctl(slave_, TIOCSCTTY, 0);
    dup2(slave_, 0);
    dup2(slave_, 1);
    dup2(slave_, 2);
    if (!command.dir.empty() && chdir(command.dir.c_str()) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

// A pass of the loop takes its wait (20 ms) and a read; one that took
// longer than kHeld was held by the machine.
constexpr Millis kHeld{60};

void Session::ReadLoop() {
  char buffer[4096];
  Clock::time_point last = Clock::now();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
    }
    pollfd p{master_, POLLIN, 0};
    int ready = poll(&p, 1, 20);
    const Clock::time_point now = Clock::now();
    if (now - last > kHeld) {
      std::lock_guard lock(mutex_);
      holds_.push_back({last, now});
    }
    last = now;
    if (ready <= 0) continue;
    ssize_t n = read(master_, buffer, sizeof buffer);
    // Dated after the read: bytes come at the latest then, never later.
    const Clock::time_point read_at = Clock::now();
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      std::this_thread::sleep_for(Millis(5));
      continue;
    }
    std::string replies;
    {
      std::lock_guard lock(mutex_);
      read_at_ = read_at;
      FeedLocked(buffer, static_cast<size_t>(n));
      replies.swap(replies_);
    }
    changed_.notify_all();
    if (!replies.empty()) WriteAll(master_, replies.data(), replies.size());
  }
}

void Session::SpeakKeyProtocol(bool speak) {
  std::lock_guard lock(mutex_);
  speak_protocol_ = speak;
}

int Session::KeyFlags() const {
  std::lock_guard lock(mutex_);
  return key_flags_.empty() ? 0 : key_flags_.back();
}

void Session::SendBeforeNextPop(std::string bytes) {
  std::lock_guard lock(mutex_);
  before_pop_ = std::move(bytes);
}

int Session::KeyFlagPushes() const {
  std::lock_guard lock(mutex_);
  return pushes_;
}

int Session::KeyFlagPops() const {
  std::lock_guard lock(mutex_);
  return pops_;
}

void Session::FeedLocked(const char* bytes, size_t length) {
  transcript_.append(bytes, length);
  if (!speak_protocol_) {
    vterm_input_write(vt_, bytes, length);
    vterm_screen_flush_damage(screen_);
    return;
  }
  // The protocol's sequences are ESC [, one of ? < > =, digits and ';',
  // then 'u'. Everything else goes to the emulator in order, so that the
  // answers come in the order of the questions. A sequence may be split
  // over reads: its start is held until it is known.
  std::string pass;
  auto give_up = [&] {
    pass += held_;
    held_.clear();
  };
  for (size_t i = 0; i < length; ++i) {
    char c = bytes[i];
    if (held_.empty()) {
      if (c == '\x1b') {
        held_ = c;
      } else {
        pass += c;
      }
      continue;
    }
    held_ += c;
    if (held_.size() == 2) {
      if (c != '[') give_up();
    } else if (held_.size() == 3) {
      if (c != '?' && c != '<' && c != '>' && c != '=') give_up();
    } else if ((c >= '0' && c <= '9') || c == ';') {
      if (held_.size() > 32) give_up();
    } else if (c == 'u') {
      vterm_input_write(vt_, pass.data(), pass.size());
      pass.clear();
      KeyProtocolLocked(held_);
      held_.clear();
    } else {
      give_up();
    }
  }
  vterm_input_write(vt_, pass.data(), pass.size());
  vterm_screen_flush_damage(screen_);
}

void Session::KeyProtocolLocked(const std::string& sequence) {
  // ESC [ kind numbers u
  const char kind = sequence[2];
  std::vector<int> numbers(1, 0);
  bool given = false;
  for (size_t i = 3; i + 1 < sequence.size(); ++i) {
    if (sequence[i] == ';') {
      numbers.push_back(0);
    } else if (numbers.back() < 100000) {
      numbers.back() = numbers.back() * 10 + (sequence[i] - '0');
      given = true;
    }
  }
  const int top = key_flags_.empty() ? 0 : key_flags_.back();
  switch (kind) {
    case '?':
      if (answer_) replies_ += "\x1b[?" + std::to_string(top) + "u";
      break;
    case '>':
      ++pushes_;
      key_flags_.push_back(numbers[0] & 31);
      break;
    case '<': {
      ++pops_;
      replies_ += before_pop_;  // sent before anything that follows the pop
      before_pop_.clear();
      int count = given ? numbers[0] : 1;
      while (count-- > 0 && !key_flags_.empty()) key_flags_.pop_back();
      break;
    }
    case '=': {
      int flags = numbers[0] & 31;
      int mode = numbers.size() > 1 && numbers[1] != 0 ? numbers[1] : 1;
      int now = mode == 1 ? flags : mode == 2 ? (top | flags) : (top & ~flags);
      if (key_flags_.empty()) {
        key_flags_.push_back(now);
      } else {
        key_flags_.back() = now;
      }
      break;
    }
    default: break;
  }
}

void Session::NoteDamage(int start_row, int end_row) {
  for (int r = start_row; r < end_row; ++r) {
    if (r >= 0 && r < static_cast<int>(damage_.size())) {
      ++damage_[static_cast<size_t>(r)];
      written_at_[static_cast<size_t>(r)] = read_at_;
    }
  }
}

termios Session::SettingsNow() const {
  termios now{};
  if (slave_ >= 0) tcgetattr(slave_, &now);
  return now;
}

void Session::Send(std::string_view bytes) {
  WriteAll(master_, bytes.data(), bytes.size());
}

void Session::Resize(int rows, int cols) {
  {
    std::lock_guard lock(mutex_);
    vterm_set_size(vt_, rows, cols);
    rows_ = rows;
    cols_ = cols;
    damage_.assign(static_cast<size_t>(rows), 0);
    written_at_.assign(static_cast<size_t>(rows), read_at_);
  }
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);
  ioctl(master_, TIOCSWINSZ, &size);
}

int Session::rows() const { return rows_; }

int Session::cols() const { return cols_; }

std::string Session::RowLocked(int row) const {
  std::string text;
  int width = cols();
  for (int col = 0; col < width; ++col) {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell);
    if (cell.chars[0] == 0) {
      text += ' ';
      continue;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i)
      AppendUtf8(text, cell.chars[i]);
    if (cell.width > 1) col += cell.width - 1;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Session::Row(int row) const {
  std::lock_guard lock(mutex_);
  return RowLocked(row);
}

std::vector<std::string> Session::Screen() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> rows_text;
  for (int r = 0; r < rows(); ++r) rows_text.push_back(RowLocked(r));
  return rows_text;
}

Position Session::Cursor() const {
  std::lock_guard lock(mutex_);
  VTermPos pos{};
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return Position{pos.row, pos.col};
}

std::string Session::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

std::vector<int> Session::Damage() const {
  std::lock_guard lock(mutex_);
  return damage_;
}

std::string Session::Row(int row, Clock::time_point& written_at) const {
  std::lock_guard lock(mutex_);
  written_at = row >= 0 && row < static_cast<int>(written_at_.size())
                   ? written_at_[static_cast<size_t>(row)]
                   : Clock::time_point{};
  return RowLocked(row);
}

Clock::duration Session::ReaderHeld(Clock::time_point from,
                                    Clock::time_point to) const {
  std::lock_guard lock(mutex_);
  Clock::duration held{0};
  for (const Held& h : holds_)
    held += std::max(Clock::duration{0},
                     std::min(h.to, to) - std::max(h.from, from));
  return held;
}

void Session::ResetDamage() {
  std::lock_guard lock(mutex_);
  damage_.assign(damage_.size(), 0);
}

int Session::FindRowLocked(std::string_view text) const {
  for (int r = 0; r < rows(); ++r) {
    if (RowLocked(r).find(text) != std::string::npos) return r;
  }
  return -1;
}

int Session::FindRow(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return FindRowLocked(text);
}

bool Session::WaitUntil(const std::function<bool()>& ready, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (ready()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Woken by new output, or after a while in case a change came between
    // the test and the wait.
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, std::min(deadline, now + Millis(20)));
  }
}

bool Session::WaitForText(std::string_view text, Millis timeout) {
  return WaitUntil([&] { return FindRow(text) >= 0; }, timeout);
}

bool Session::WaitForRowText(int row, std::string_view text, Millis timeout) {
  return WaitUntil([&] { return Row(row).find(text) != std::string::npos; },
                   timeout);
}

std::optional<int> Session::WaitExit(Millis timeout) {
  if (status_) return status_;
  if (pid_ <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      // Let the reader take in the program's last bytes.
      int pending = 0;
      for (int i = 0; i < 100; ++i) {
        if (ioctl(master_, FIONREAD, &pending) != 0 || pending == 0) break;
        std::this_thread::sleep_for(Millis(5));
      }
      std::this_thread::sleep_for(Millis(30));
      status_ = status;
      return status_;
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(Millis(5));
  }
}

bool Session::Running() { return pid_ > 0 && !WaitExit(Millis(0)); }

void Session::Kill(int signal) {
  if (pid_ > 0 && !status_) kill(pid_, signal);
}

}  // namespace pty
