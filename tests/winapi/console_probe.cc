// Makes the console calls named on its command line, one after the other,
// and writes what each gave to the file named by PROBE_LOG, one line each,
// so that a test can run it on a terminal or without one and read the
// results. Commands:
//   mode            GetConsoleMode on the three handles: "mode 1 1 1"
//   wrap:0, wrap:1  SetConsoleMode on standard output, line wrap off or on:
//                   "wrap OK WRAP-BIT-NOW"
//   type            GetFileType on the three handles: "type 2 2 2"
//   info[:H]        GetConsoleScreenBufferInfo on handle H (default 1):
//                   "info OK X Y WIDTH HEIGHT MS"
//   move:X,Y[,H]    SetConsoleCursorPosition: "move OK"
//   peek:N, read:N  PeekConsoleInputA / ReadConsoleInputA for N records:
//                   "peek OK COUNT d65/97 u65/97 ..." (down/up vk/char, and
//                   "*N" after a repeat count N above 1), and for read the
//                   time it took, "... MS"
//   write           WriteConsoleInputA with the release of 'z': "write OK N"
//   flush           FlushConsoleInputBuffer: "flush OK"
//   waitkey         peeks until a record is there (5 s at most)
//   print:TEXT      WriteFile on standard output: "print OK WRITTEN"
//   sleep:MS        Sleep: "sleep ELAPSED"
//   cmp:A:B         lstrcmpiA: "cmp -1|0|1"
//   badhandle       GetStdHandle with an unknown number: "badhandle 1" when
//                   it gives INVALID_HANDLE_VALUE
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::FILE* g_log = nullptr;

long Now() {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

HANDLE Handle(int which) {
  return GetStdHandle(which == 0   ? STD_INPUT_HANDLE
                      : which == 2 ? STD_ERROR_HANDLE
                                   : STD_OUTPUT_HANDLE);
}

void LogRecords(const INPUT_RECORD* records, DWORD count) {
  for (DWORD i = 0; i < count && i < 64; ++i) {
    const KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
    std::fprintf(g_log, " %c%d/%d", k.bKeyDown ? 'd' : 'u', k.wVirtualKeyCode,
                 static_cast<unsigned char>(k.uChar.AsciiChar));
    if (k.wRepeatCount > 1) std::fprintf(g_log, "*%d", k.wRepeatCount);
  }
}

void Run(const std::string& command) {
  std::string name = command.substr(0, command.find(':'));
  std::string arg = command.find(':') == std::string::npos
                        ? ""
                        : command.substr(name.size() + 1);
  if (name == "mode") {
    DWORD mode = 0;
    std::fprintf(g_log, "mode %d %d %d\n", GetConsoleMode(Handle(0), &mode),
                 GetConsoleMode(Handle(1), &mode),
                 GetConsoleMode(Handle(2), &mode));
  } else if (name == "wrap") {
    DWORD mode = 0;
    GetConsoleMode(Handle(1), &mode);
    mode = arg == "1" ? mode | ENABLE_WRAP_AT_EOL_OUTPUT
                      : mode & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT);
    BOOL ok = SetConsoleMode(Handle(1), mode);
    GetConsoleMode(Handle(1), &mode);
    std::fprintf(g_log, "wrap %d %lu\n", ok,
                 static_cast<unsigned long>(mode & ENABLE_WRAP_AT_EOL_OUTPUT));
  } else if (name == "type") {
    std::fprintf(g_log, "type %u %u %u\n", GetFileType(Handle(0)),
                 GetFileType(Handle(1)), GetFileType(Handle(2)));
  } else if (name == "info") {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    long start = Now();
    BOOL ok = GetConsoleScreenBufferInfo(
        Handle(arg.empty() ? 1 : std::atoi(arg.c_str())), &info);
    std::fprintf(g_log, "info %d %d %d %d %d %ld\n", ok,
                 info.dwCursorPosition.X, info.dwCursorPosition.Y,
                 info.dwSize.X, info.dwSize.Y, Now() - start);
  } else if (name == "move") {
    int x = 0, y = 0, h = 1;
    std::sscanf(arg.c_str(), "%d,%d,%d", &x, &y, &h);
    COORD to{static_cast<SHORT>(x), static_cast<SHORT>(y)};
    std::fprintf(g_log, "move %d\n", SetConsoleCursorPosition(Handle(h), to));
  } else if (name == "peek" || name == "read") {
    INPUT_RECORD records[64];
    DWORD count = 0;
    DWORD want = static_cast<DWORD>(std::atoi(arg.c_str()));
    long start = Now();
    BOOL ok = name == "peek"
                  ? PeekConsoleInputA(Handle(0), records, want, &count)
                  : ReadConsoleInputA(Handle(0), records, want, &count);
    std::fprintf(g_log, "%s %d %u", name.c_str(), ok, count);
    LogRecords(records, count);
    if (name == "read") std::fprintf(g_log, " %ld", Now() - start);
    std::fprintf(g_log, "\n");
  } else if (name == "write") {
    INPUT_RECORD z{};
    z.EventType = KEY_EVENT;
    z.Event.KeyEvent.wVirtualKeyCode = 'Z';
    z.Event.KeyEvent.uChar.AsciiChar = 'z';
    DWORD written = 0;
    BOOL ok = WriteConsoleInputA(Handle(0), &z, 1, &written);
    std::fprintf(g_log, "write %d %u\n", ok, written);
  } else if (name == "flush") {
    std::fprintf(g_log, "flush %d\n", FlushConsoleInputBuffer(Handle(0)));
  } else if (name == "waitkey") {
    INPUT_RECORD record;
    DWORD count = 0;
    for (long end = Now() + 5000; Now() < end && count == 0;) {
      if (!PeekConsoleInputA(Handle(0), &record, 1, &count)) count = 0;
      Sleep(5);
    }
    std::fprintf(g_log, "waitkey %u\n", count);
  } else if (name == "print") {
    DWORD written = 0;
    BOOL ok = WriteFile(Handle(1), arg.data(), static_cast<DWORD>(arg.size()),
                        &written, nullptr);
    std::fprintf(g_log, "print %d %u\n", ok, written);
  } else if (name == "sleep") {
    long start = Now();
    Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
    std::fprintf(g_log, "sleep %ld\n", Now() - start);
  } else if (name == "cmp") {
    std::string a = arg.substr(0, arg.find(':'));
    std::string b = arg.substr(a.size() + 1);
    int r = lstrcmpiA(a.c_str(), b.c_str());
    std::fprintf(g_log, "cmp %d\n", r < 0 ? -1 : r > 0 ? 1 : 0);
  } else if (name == "badhandle") {
    std::fprintf(g_log, "badhandle %d\n",
                 GetStdHandle(static_cast<DWORD>(-99)) == INVALID_HANDLE_VALUE);
  } else {
    std::fprintf(g_log, "unknown %s\n", command.c_str());
  }
  std::fflush(g_log);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("PROBE_LOG");
  if (path == nullptr) return 2;
  g_log = std::fopen(path, "w");
  if (g_log == nullptr) return 2;
  AttachConsole(ATTACH_PARENT_PROCESS);  // as the program does at start
  for (int i = 1; i < argc; ++i) Run(argv[i]);
  std::fclose(g_log);
  return 0;
}
