// Reading the position reply and turning it into the status line.
#ifndef MCIPLAY_PLAYER_POSITION_H
#define MCIPLAY_PLAYER_POSITION_H

#include <cstddef>
#include <cstdint>
#include <string_view>

// Reads a position reply as a signed 32-bit number of milliseconds: leading
// blanks skipped, an optional "+" or "-", or "$" for hexadecimal digits;
// reading stops at the first character that is not a digit and keeps the
// value read so far (a "-" counts only when the digits run to the end of the
// text). A text without digits gives 0. Reading also stops, keeping the value
// so far, before a digit that would leave the 32-bit range; eight hex digits
// are taken as a signed 32-bit pattern.
std::int32_t ParsePosition(std::string_view text);

// The text of one position field: `value` + 100 in decimal without its
// first character, so 7 gives "07" and 45 gives "45". Writes at most three
// characters and a NUL into `out`; returns the number of characters.
std::size_t FieldText(std::int32_t value, char out[4]);

// Longest status line FormatStatusLine can produce, without its NUL.
constexpr std::size_t kStatusLineMax = 48;

// The status line for a position in milliseconds:
// "Playing: MM:SS.HH ...press a Key to stop." (41 characters for a position
// of 0 or more). Returns its length; `out` is NUL-terminated.
std::size_t FormatStatusLine(std::int32_t position_ms,
                             char out[kStatusLineMax + 1]);

#endif  // MCIPLAY_PLAYER_POSITION_H
