// What the codes in a terminal's key sequences stand for: the punctuation
// keys of a US keyboard, the modifier parameter, the parameters of a
// sequence, and the cursor, function and private-use keys. Tables only.
#ifndef MCIPLAY_WINAPI_TERM_KEYS_H
#define MCIPLAY_WINAPI_TERM_KEYS_H

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace term {

// The keys of a US keyboard that give punctuation, unshifted and shifted.
inline constexpr char kPlain[] = "`1234567890-=[]\\;',./";
inline constexpr char kShifted[] = "~!@#$%^&*()_+{}|:\"<>?";
inline constexpr WORD kPunctuationKeys[] = {
    VK_OEM_3,     '1',           '2',      '3',      '4',      '5',
    '6',          '7',           '8',      '9',      '0',      VK_OEM_MINUS,
    VK_OEM_PLUS,  VK_OEM_4,      VK_OEM_6, VK_OEM_5, VK_OEM_1, VK_OEM_7,
    VK_OEM_COMMA, VK_OEM_PERIOD, VK_OEM_2};

// The control-key state that the modifier parameter of a sequence stands
// for: 1 + (Shift 1, Alt 2, Ctrl 4, and in the keyboard protocol Super 8,
// Hyper 16, Meta 32, Caps Lock 64, Num Lock 128).
DWORD Modifiers(int parameter);

// The fields of a parameter text such as "97:65;2:3": fields split by ';',
// each a list of numbers split by ':'. An empty number is 0; every field has
// at least one.
using Fields = std::vector<std::vector<int>>;
Fields Parameters(std::string_view text);

// Field `f`, number `n` of it, or `otherwise` when it is not there or 0.
int FieldOr(const Fields& fields, std::size_t f, std::size_t n, int otherwise);

// The key of a final byte that is the same after ESC [ and after ESC O.
WORD CursorKey(unsigned char final_byte);

// The key of ESC [ number ~.
WORD TildeKey(int number);

// Keys the console marks as enhanced.
bool Enhanced(WORD key);

// The keys the keyboard protocol numbers in the private use area, from
// Caps Lock (57358) on; virtual_key 0 for those the console has no key for.
struct ProtocolKeyInfo {
  WORD virtual_key;
  char ascii;
  DWORD state;
};
ProtocolKeyInfo PrivateKey(int code);

}  // namespace term

#endif  // MCIPLAY_WINAPI_TERM_KEYS_H
