#include "tests/support/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace fake {
namespace {

char g_in, g_out, g_err;
Console g_console;
Media g_media;
std::uint64_t g_now = 0;
std::uint64_t g_calls = 0;

// Every call counts; a program stuck in a loop that never sleeps ends the
// test instead of hanging it.
void Tick() {
  if (++g_calls > 20'000'000) {
    std::fprintf(stderr, "fake platform: no progress after %llu calls\n",
                 static_cast<unsigned long long>(g_calls));
    std::abort();
  }
  auto& s = g_console.scheduled;
  while (!s.empty() && s.front().first <= g_now) {
    g_console.queue.push_back(s.front().second);
    s.pop_front();
  }
}

void Advance(std::uint64_t ms) {
  g_now += ms;
  if (g_now > 48ull * 3600 * 1000) {
    std::fprintf(stderr, "fake platform: clock ran past two days\n");
    std::abort();
  }
}

bool IsOutput(HANDLE h) { return h == &g_out || h == &g_err; }

void Scroll() {
  g_console.rows.erase(g_console.rows.begin());
  g_console.rows.push_back(std::string(g_console.width, ' '));
  g_console.y = g_console.height - 1;
}

// The console's own handling of text: CR, LF, and a wrap to the next row
// after the last column, scrolling on the last row.
void Put(char c) {
  Console& k = g_console;
  if (c == '\r') {
    k.x = 0;
  } else if (c == '\n') {
    if (++k.y >= k.height) Scroll();
  } else {
    k.rows[k.y][k.x] = c;
    if (!k.wrap && k.x + 1 >= k.width) return;  // the last column, again
    if (++k.x >= k.width) {
      k.x = 0;
      if (++k.y >= k.height) Scroll();
    }
  }
}

// Text, or with escape sequences on, ESC [ K as well.
void PutAll(const char* p, DWORD length) {
  Console& k = g_console;
  for (DWORD i = 0; i < length; ++i) {
    if (k.takes_sequences && length - i >= 3 && p[i] == '\x1b' &&
        p[i + 1] == '[' && p[i + 2] == 'K') {
      std::fill(k.rows[k.y].begin() + k.x, k.rows[k.y].end(), ' ');
      i += 2;
    } else {
      Put(p[i]);
    }
  }
}

INPUT_RECORD Key(char c, WORD vk, BOOL down) {
  INPUT_RECORD r;
  std::memset(&r, 0, sizeof r);
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.uChar.AsciiChar = c;
  return r;
}

}  // namespace

Console& console() { return g_console; }
Media& media() { return g_media; }
std::uint64_t NowMs() { return g_now; }
std::uint64_t KeyTakenAt() {
  return g_console.flushes.empty() ? 0 : g_console.flushes.front();
}
HANDLE InputHandle() { return &g_in; }
HANDLE OutputHandle() { return &g_out; }
HANDLE ErrorHandle() { return &g_err; }

void Reset(int width, int height) {
  g_console = Console{};
  g_console.width = width;
  g_console.height = height;
  g_console.rows.assign(height, std::string(width, ' '));
  g_media = Media{};
  g_now = 0;
  g_calls = 0;
}

std::string Row(int y) {
  std::string r = g_console.rows.at(y);
  r.erase(r.find_last_not_of(' ') + 1);
  return r;
}

INPUT_RECORD KeyDown(char c, WORD vk) { return Key(c, vk, TRUE); }
INPUT_RECORD KeyUp(char c, WORD vk) { return Key(c, vk, FALSE); }

INPUT_RECORD Mouse() {
  INPUT_RECORD r;
  std::memset(&r, 0, sizeof r);
  r.EventType = MOUSE_EVENT;
  return r;
}

INPUT_RECORD Focus() {
  INPUT_RECORD r;
  std::memset(&r, 0, sizeof r);
  r.EventType = FOCUS_EVENT;
  r.Event.FocusEvent.bSetFocus = TRUE;
  return r;
}

void Schedule(std::uint64_t at_ms, INPUT_RECORD record) {
  auto& s = g_console.scheduled;
  auto later = std::upper_bound(
      s.begin(), s.end(), at_ms,
      [](std::uint64_t at, const auto& entry) { return at < entry.first; });
  s.emplace(later, at_ms, record);
}

void Resize(int width) {
  g_console.width = width;
  for (std::string& row : g_console.rows) row.resize(width, ' ');
  if (g_console.x >= width) g_console.x = width - 1;
}

void Type(std::uint64_t at_ms, char c) {
  Schedule(at_ms, KeyDown(c));
  Schedule(at_ms, KeyUp(c));
}

void Reply(char* reply, UINT length, const std::string& text) {
  if (reply == nullptr || length == 0) return;
  std::size_t n = text.size() < length - 1 ? text.size() : length - 1;
  std::memcpy(reply, text.data(), n);
  reply[n] = '\0';
}

void UseDevice(DeviceScript script) {
  auto started = std::make_shared<std::int64_t>(-1);
  g_media.handler = [script, started](const std::string& command, char* reply,
                                      UINT length) -> MCIERROR {
    if (script.override_command) {
      MCIERROR r = script.override_command(command, reply, length);
      if (r != static_cast<MCIERROR>(-1)) return r;
    }
    auto elapsed = [&]() -> std::uint64_t {
      if (*started < 0) return 0;
      std::uint64_t e = g_now - static_cast<std::uint64_t>(*started);
      return e < script.length_ms ? e : script.length_ms;
    };
    if (command.rfind("open ", 0) == 0 || command.rfind("set ", 0) == 0) {
      Reply(reply, length, "");
      return 0;
    }
    if (command.rfind("play ", 0) == 0) {
      *started = static_cast<std::int64_t>(g_now);
      Reply(reply, length, "");
      return 0;
    }
    if (command.rfind("close ", 0) == 0) {
      *started = -1;
      Reply(reply, length, "");
      return 0;
    }
    if (command.size() > 5 &&
        command.compare(command.size() - 5, 5, " mode") == 0) {
      bool playing = *started >= 0 && elapsed() < script.length_ms;
      Reply(reply, length, playing ? script.mode_word : "stopped");
      return 0;
    }
    if (command.size() > 9 &&
        command.compare(command.size() - 9, 9, " position") == 0) {
      Reply(reply, length, std::to_string(elapsed()));
      return 0;
    }
    Reply(reply, length, "unknown command");
    return MCIERR_UNRECOGNIZED_COMMAND;
  };
}

}  // namespace fake

using fake::g_console;

extern "C" {

// The scripted console is there from the start, as a Windows console is.
BOOL WINAPI AttachConsole(DWORD) { return FALSE; }

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  g_console.control_handler = add ? handler : nullptr;
  return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD which) {
  fake::Tick();
  if (which == STD_INPUT_HANDLE) return &fake::g_in;
  if (which == STD_OUTPUT_HANDLE) return &fake::g_out;
  if (which == STD_ERROR_HANDLE) return &fake::g_err;
  return INVALID_HANDLE_VALUE;
}

BOOL WINAPI GetConsoleMode(HANDLE h, LPDWORD mode) {
  fake::Tick();
  bool console = h == &fake::g_in    ? g_console.input_is_console
                 : fake::IsOutput(h) ? g_console.output_is_console
                                     : false;
  if (!console) return FALSE;
  *mode = 0;
  if (fake::IsOutput(h) && g_console.takes_sequences)
    *mode |= ENABLE_VIRTUAL_TERMINAL_PROCESSING;
  if (fake::IsOutput(h) && g_console.wrap) *mode |= ENABLE_WRAP_AT_EOL_OUTPUT;
  return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE h, DWORD mode) {
  fake::Tick();
  if (!fake::IsOutput(h) || !g_console.output_is_console) return FALSE;
  g_console.wrap = (mode & ENABLE_WRAP_AT_EOL_OUTPUT) != 0;
  return TRUE;
}

BOOL WINAPI GetConsoleScreenBufferInfo(HANDLE h,
                                       PCONSOLE_SCREEN_BUFFER_INFO info) {
  fake::Tick();
  if (!fake::IsOutput(h) || !g_console.output_is_console) return FALSE;
  std::memset(info, 0, sizeof *info);
  info->dwSize.X = static_cast<SHORT>(g_console.width);
  info->dwSize.Y = static_cast<SHORT>(g_console.height);
  info->dwCursorPosition.X = static_cast<SHORT>(g_console.x);
  info->dwCursorPosition.Y = static_cast<SHORT>(g_console.y);
  return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE h, COORD position) {
  fake::Tick();
  g_console.cursor_calls.push_back(h);
  if (!fake::IsOutput(h) || !g_console.output_is_console) return FALSE;
  if (position.X < 0 || position.Y < 0 || position.X >= g_console.width ||
      position.Y >= g_console.height)
    return FALSE;
  g_console.x = position.X;
  g_console.y = position.Y;
  return TRUE;
}

BOOL WINAPI PeekConsoleInputA(HANDLE h, PINPUT_RECORD buffer, DWORD length,
                              LPDWORD count) {
  fake::Tick();
  *count = 0;
  if (h != &fake::g_in || !g_console.input_is_console) return FALSE;
  for (const INPUT_RECORD& r : g_console.queue) {
    if (*count == length) break;
    buffer[(*count)++] = r;
  }
  return TRUE;
}

BOOL WINAPI ReadConsoleInputA(HANDLE h, PINPUT_RECORD buffer, DWORD length,
                              LPDWORD count) {
  fake::Tick();
  *count = 0;
  if (h != &fake::g_in || !g_console.input_is_console) return FALSE;
  ++g_console.reads;
  // Blocks until a record arrives: move the clock to the next scheduled one.
  while (g_console.queue.empty()) {
    if (g_console.scheduled.empty()) {
      std::fprintf(stderr,
                   "fake platform: ReadConsoleInputA would block forever\n");
      std::abort();
    }
    std::uint64_t next = g_console.scheduled.front().first;
    if (next > fake::g_now) fake::Advance(next - fake::g_now);
    fake::Tick();
  }
  while (*count < length && !g_console.queue.empty()) {
    buffer[(*count)++] = g_console.queue.front();
    g_console.queue.pop_front();
  }
  for (const INPUT_RECORD& r : g_console.arrive_after_read)
    g_console.queue.push_back(r);
  g_console.arrive_after_read.clear();
  return TRUE;
}

BOOL WINAPI WriteConsoleInputA(HANDLE h, const INPUT_RECORD* buffer,
                               DWORD length, LPDWORD count) {
  fake::Tick();
  *count = 0;
  if (h != &fake::g_in || !g_console.input_is_console) return FALSE;
  g_console.write_backs.push_back(length);
  for (DWORD i = 0; i < length; ++i) g_console.queue.push_back(buffer[i]);
  *count = length;
  return TRUE;
}

BOOL WINAPI FlushConsoleInputBuffer(HANDLE h) {
  fake::Tick();
  if (h != &fake::g_in || !g_console.input_is_console) return FALSE;
  g_console.flushes.push_back(fake::g_now);
  g_console.queue.clear();
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID data, DWORD length, LPDWORD written,
                      LPOVERLAPPED) {
  fake::Tick();
  if (!fake::IsOutput(h)) return FALSE;
  if (auto hook = std::exchange(g_console.before_write, nullptr)) hook();
  const char* p = static_cast<const char*>(data);
  g_console.bytes.append(p, length);
  g_console.writes.emplace_back(p, length);
  g_console.write_times.push_back(fake::g_now);
  if (g_console.output_is_console) fake::PutAll(p, length);
  if (written != nullptr) *written = length;
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE h) {
  fake::Tick();
  if (h == &fake::g_in)
    return g_console.input_is_console ? FILE_TYPE_CHAR : FILE_TYPE_PIPE;
  if (fake::IsOutput(h))
    return g_console.output_is_console ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
  return FILE_TYPE_UNKNOWN;
}

// Signalled while the queue holds a record; otherwise the clock runs to the
// arrival of the next one or to the timeout, whichever comes first.
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
  fake::Tick();
  g_console.waits.push_back(ms);
  if (h != &fake::g_in || !g_console.input_is_console) return WAIT_FAILED;
  if (!g_console.queue.empty()) return WAIT_OBJECT_0;
  const auto& s = g_console.scheduled;
  if (!s.empty() && (ms == INFINITE || s.front().first <= fake::g_now + ms)) {
    if (s.front().first > fake::g_now)
      fake::Advance(s.front().first - fake::g_now);
    fake::Tick();
    return WAIT_OBJECT_0;
  }
  if (ms == INFINITE) {
    std::fprintf(stderr,
                 "fake platform: WaitForSingleObject would block forever\n");
    std::abort();
  }
  fake::Advance(ms);
  fake::Tick();
  return WAIT_TIMEOUT;
}

DWORD WINAPI GetTickCount(void) {
  fake::Tick();
  return static_cast<DWORD>(fake::g_now);
}

void WINAPI Sleep(DWORD ms) {
  fake::Tick();
  g_console.sleeps.push_back(ms);
  fake::Advance(ms);
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  fake::Tick();
  for (;; ++a, ++b) {
    int ca = static_cast<unsigned char>(*a);
    int cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

MCIERROR WINAPI mciSendStringA(LPCSTR command, LPSTR reply, UINT length, HWND) {
  fake::Tick();
  fake::g_media.commands.emplace_back(command);
  if (!fake::g_media.handler) {
    fake::Reply(reply, length, "unknown command");
    return MCIERR_UNRECOGNIZED_COMMAND;
  }
  return fake::g_media.handler(command, reply, length);
}

BOOL WINAPI mciGetErrorStringA(MCIERROR error, LPSTR text, UINT length) {
  fake::Tick();
  auto known = fake::g_media.error_texts.find(error);
  fake::Reply(text, length,
              known != fake::g_media.error_texts.end() ? known->second : "");
  return known != fake::g_media.error_texts.end();
}

}  // extern "C"
