#include "winapi/term_keys.h"

#include <cstddef>

namespace term {

DWORD Modifiers(int parameter) {
  if (parameter < 2 || parameter > 256) return 0;
  int bits = parameter - 1;
  DWORD state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & 2) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  if (bits & 64) state |= CAPSLOCK_ON;
  if (bits & 128) state |= NUMLOCK_ON;
  return state;
}

Fields Parameters(std::string_view text) {
  Fields fields(1, std::vector<int>(1, 0));
  for (char c : text) {
    if (c == ';') {
      fields.emplace_back(1, 0);
    } else if (c == ':') {
      fields.back().push_back(0);
    } else if (c >= '0' && c <= '9' && fields.back().back() < 10000000) {
      fields.back().back() = fields.back().back() * 10 + (c - '0');
    }
  }
  return fields;
}

int FieldOr(const Fields& fields, std::size_t f, std::size_t n, int otherwise) {
  if (f >= fields.size() || n >= fields[f].size() || fields[f][n] == 0)
    return otherwise;
  return fields[f][n];
}

WORD CursorKey(unsigned char final_byte) {
  switch (final_byte) {
    case 'A': return VK_UP;
    case 'B': return VK_DOWN;
    case 'C': return VK_RIGHT;
    case 'D': return VK_LEFT;
    case 'H': return VK_HOME;
    case 'F': return VK_END;
    case 'E': return VK_CLEAR;  // the keypad's middle key
    case 'P': return VK_F1;
    case 'Q': return VK_F2;
    case 'R': return VK_F3;
    case 'S': return VK_F4;
    default: return 0;
  }
}

WORD TildeKey(int number) {
  switch (number) {
    case 1:
    case 7: return VK_HOME;
    case 2: return VK_INSERT;
    case 3: return VK_DELETE;
    case 4:
    case 8: return VK_END;
    case 5: return VK_PRIOR;
    case 6: return VK_NEXT;
    case 11: return VK_F1;
    case 12: return VK_F2;
    case 13: return VK_F3;
    case 14: return VK_F4;
    case 15: return VK_F5;
    case 17: return VK_F6;
    case 18: return VK_F7;
    case 19: return VK_F8;
    case 20: return VK_F9;
    case 21: return VK_F10;
    case 23: return VK_F11;
    case 24: return VK_F12;
    default: return 0;
  }
}

bool Enhanced(WORD key) {
  return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT ||
         key == VK_DELETE;
}

ProtocolKeyInfo PrivateKey(int code) {
  const DWORD e = ENHANCED_KEY;
  if (code >= 57376 && code <= 57387)  // F13 to F24
    return {static_cast<WORD>(VK_F13 + (code - 57376)), 0, 0};
  if (code >= 57399 && code <= 57408)  // the keypad's digits
    return {static_cast<WORD>(VK_NUMPAD0 + (code - 57399)),
            static_cast<char>('0' + (code - 57399)), 0};
  switch (code) {
    case 57358: return {VK_CAPITAL, 0, 0};
    case 57359: return {VK_SCROLL, 0, 0};
    case 57360: return {VK_NUMLOCK, 0, e};
    case 57361: return {VK_SNAPSHOT, 0, e};
    case 57362: return {VK_PAUSE, 0, 0};
    case 57363: return {VK_APPS, 0, e};
    case 57409: return {VK_DECIMAL, '.', 0};
    case 57410: return {VK_DIVIDE, '/', e};
    case 57411: return {VK_MULTIPLY, '*', 0};
    case 57412: return {VK_SUBTRACT, '-', 0};
    case 57413: return {VK_ADD, '+', 0};
    case 57414: return {VK_RETURN, '\r', e};
    case 57415: return {VK_OEM_PLUS, '=', 0};
    case 57416: return {VK_SEPARATOR, ',', 0};
    case 57417: return {VK_LEFT, 0, 0};
    case 57418: return {VK_RIGHT, 0, 0};
    case 57419: return {VK_UP, 0, 0};
    case 57420: return {VK_DOWN, 0, 0};
    case 57421: return {VK_PRIOR, 0, 0};
    case 57422: return {VK_NEXT, 0, 0};
    case 57423: return {VK_HOME, 0, 0};
    case 57424: return {VK_END, 0, 0};
    case 57425: return {VK_INSERT, 0, 0};
    case 57426: return {VK_DELETE, 0, 0};
    case 57427: return {VK_CLEAR, 0, 0};
    case 57441: return {VK_SHIFT, 0, 0};    // left Shift
    case 57442: return {VK_CONTROL, 0, 0};  // left Ctrl
    case 57443: return {VK_MENU, 0, 0};     // left Alt
    case 57444: return {VK_LWIN, 0, e};
    case 57447: return {VK_SHIFT, 0, 0};    // right Shift
    case 57448: return {VK_CONTROL, 0, e};  // right Ctrl
    case 57449: return {VK_MENU, 0, e};     // right Alt
    case 57450: return {VK_RWIN, 0, e};
    default: return {0, 0, 0};
  }
}

}  // namespace term
