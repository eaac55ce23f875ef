#include "player/position.h"

#include <cstring>

namespace {

int DecimalDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int32_t ParsePosition(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;

  bool negative = false;
  bool hex = false;
  if (i < text.size()) {
    if (text[i] == '+' || text[i] == '-') {
      negative = text[i] == '-';
      ++i;
    } else if (text[i] == '$') {
      hex = true;
      ++i;
    }
  }

  if (hex) {
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
      int d = HexDigit(text[i]);
      if (d < 0 || value > 0x0FFFFFFFu) break;
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(value);
  }

  std::int32_t value = 0;
  for (; i < text.size(); ++i) {
    int d = DecimalDigit(text[i]);
    if (d < 0) break;
    // The next digit would pass 2147483647: keep what was read.
    if (value > 214748364 || (value == 214748364 && d > 7)) break;
    value = value * 10 + d;
  }
  if (negative && i == text.size()) value = -value;
  return value;
}

std::size_t FieldText(std::int32_t value, char out[4]) {
  // value lies between -99 and 99, so value + 100 between 1 and 199.
  char digits[4];
  std::size_t n = 0;
  std::int32_t v = value + 100;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0 && n < 3);
  // digits holds the number backwards; copy it forwards without its first
  // (most significant) character.
  std::size_t length = n - 1;
  for (std::size_t k = 0; k < length; ++k) out[k] = digits[length - 1 - k];
  out[length] = '\0';
  return length;
}

std::size_t FormatStatusLine(std::int32_t position_ms,
                             char out[kStatusLineMax + 1]) {
  char minutes[4], seconds[4], hundredths[4];
  FieldText((position_ms / 60000) % 100, minutes);
  FieldText((position_ms / 1000) % 60, seconds);
  FieldText((position_ms / 10) % 100, hundredths);

  std::size_t n = 0;
  auto append = [&](const char* s) {
    std::size_t len = std::strlen(s);
    std::memcpy(out + n, s, len);
    n += len;
  };
  append("Playing: ");
  append(minutes);
  append(":");
  append(seconds);
  append(".");
  append(hundredths);
  append(" ...press a Key to stop.");
  out[n] = '\0';
  return n;
}
