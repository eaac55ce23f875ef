// Any reply text read as a position, and the status line made from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "player/position.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::int32_t ms = ParsePosition(text);

  char line[kStatusLineMax + 1];
  std::size_t length = FormatStatusLine(ms, line);
  if (length > kStatusLineMax || std::strlen(line) != length) std::abort();
  if (ms >= 0 && length != 41) std::abort();

  // A plain decimal reply of a working device reads back exactly.
  if (ms >= 0) {
    char digits[16];
    int n = 0;
    std::int32_t v = ms;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0);
    char forward[16];
    for (int i = 0; i < n; ++i) forward[i] = digits[n - 1 - i];
    if (ParsePosition(std::string_view(forward, n)) != ms) std::abort();
  }
  return 0;
}
