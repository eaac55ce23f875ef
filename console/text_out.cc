#include "console/text_out.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr std::size_t kBufferSize = 128;

char g_buffer[kBufferSize];
std::size_t g_used = 0;

void WriteOut() {
  if (g_used == 0) return;
  DWORD written = 0;
  // A failed write is not reported, and its text is not kept either: the
  // program goes on as if it had been written.
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_buffer,
            static_cast<DWORD>(g_used), &written, nullptr);
  g_used = 0;
}

void Put(std::string_view text) {
  while (!text.empty()) {
    if (g_used == kBufferSize) WriteOut();
    std::size_t n = kBufferSize - g_used;
    if (n > text.size()) n = text.size();
    std::memcpy(g_buffer + g_used, text.data(), n);
    g_used += n;
    text.remove_prefix(n);
  }
  if (g_used == kBufferSize) WriteOut();
}

}  // namespace

void FlushText() {
  if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR)
    WriteOut();
}

void FlushTextAtExit() { WriteOut(); }

void WriteText(std::string_view text) {
  Put(text);
  FlushText();
}

void WriteRepeated(char c, std::size_t count) {
  char run[kBufferSize];
  std::memset(run, c, sizeof run);
  for (; count > kBufferSize; count -= kBufferSize)
    Put(std::string_view(run, kBufferSize));
  Put(std::string_view(run, count));
  FlushText();
}

// A finished line goes out at once wherever standard output goes, so that
// a pipe's reader sees the prompt before the program waits for a key, and a
// file keeps every finished line if the program is killed.
void EndLine() {
  Put("\r\n");
  WriteOut();
}
