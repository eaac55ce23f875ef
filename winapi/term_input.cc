#include "winapi/term_input.h"

#include <cstring>

namespace term {

namespace {

constexpr unsigned char kEsc = 0x1B;
// A longer sequence is still read to its end, but its bytes are not kept.
constexpr std::size_t kMaxHeld = 32;

// The keys of a US keyboard that give punctuation, unshifted and shifted.
constexpr char kPlain[] = "`1234567890-=[]\\;',./";
constexpr char kShifted[] = "~!@#$%^&*()_+{}|:\"<>?";
constexpr WORD kPunctuationKeys[] = {
    VK_OEM_3, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0',
    VK_OEM_MINUS, VK_OEM_PLUS, VK_OEM_4, VK_OEM_6, VK_OEM_5, VK_OEM_1,
    VK_OEM_7, VK_OEM_COMMA, VK_OEM_PERIOD, VK_OEM_2};

// The control-key state that the modifier parameter of a sequence stands
// for: 1 + (Shift 1, Alt 2, Ctrl 4).
DWORD Modifiers(int parameter) {
  if (parameter < 2) return 0;
  int bits = parameter - 1;
  DWORD state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & 2) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  return state;
}

// The numbers of a parameter text such as "12;5"; an empty field gives 0.
std::vector<int> Parameters(std::string_view text) {
  std::vector<int> values(1, 0);
  for (char c : text) {
    if (c == ';') {
      values.push_back(0);
    } else if (c >= '0' && c <= '9' && values.back() < 100000) {
      values.back() = values.back() * 10 + (c - '0');
    }
  }
  return values;
}

// The key of a final byte that is the same after ESC [ and after ESC O.
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

// The key of ESC [ number ~.
WORD TildeKey(int number) {
  switch (number) {
    case 1: case 7: return VK_HOME;
    case 2: return VK_INSERT;
    case 3: return VK_DELETE;
    case 4: case 8: return VK_END;
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

}  // namespace

void AppendKey(std::vector<INPUT_RECORD>& keys, WORD virtual_key, char ascii,
               DWORD control_state) {
  INPUT_RECORD record;
  std::memset(&record, 0, sizeof record);
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
  record.Event.KeyEvent.uChar.AsciiChar = ascii;
  record.Event.KeyEvent.dwControlKeyState = control_state;
  record.Event.KeyEvent.bKeyDown = TRUE;
  keys.push_back(record);
  record.Event.KeyEvent.bKeyDown = FALSE;
  keys.push_back(record);
}

void InputDecoder::Feed(std::string_view bytes, Decoded& out) {
  for (char c : bytes) Byte(static_cast<unsigned char>(c), out);
}

void InputDecoder::Expire(Decoded& out) {
  State was = state_;
  std::string held;
  held.swap(held_);
  state_ = State::kGround;
  switch (was) {
    case State::kGround:
      return;
    case State::kUtf8:
      AppendKey(out.keys, 0, '?', 0);
      return;
    case State::kEscape:
    case State::kCsi:
    case State::kSs3:
      // ESC, then what followed it as the characters they are.
      AppendKey(out.keys, VK_ESCAPE, kEsc, 0);
      for (char c : held) Ground(static_cast<unsigned char>(c), out);
      return;
  }
}

void InputDecoder::Byte(unsigned char c, Decoded& out) {
  switch (state_) {
    case State::kGround:
      Ground(c, out);
      return;

    case State::kEscape:
      if (c == '[' || c == 'O') {
        state_ = c == '[' ? State::kCsi : State::kSs3;
        held_.assign(1, static_cast<char>(c));
      } else if (c == kEsc) {
        AppendKey(out.keys, VK_ESCAPE, kEsc, 0);
      } else {
        // ESC and a key together: the key with Alt held.
        state_ = State::kGround;
        std::size_t before = out.keys.size();
        Ground(c, out);
        for (std::size_t i = before; i < out.keys.size(); ++i)
          out.keys[i].Event.KeyEvent.dwControlKeyState |= LEFT_ALT_PRESSED;
      }
      return;

    case State::kCsi:
    case State::kSs3:
      if (c >= 0x20 && c <= 0x3F) {  // parameters and intermediates
        if (held_.size() < kMaxHeld) held_ += static_cast<char>(c);
      } else if (c >= 0x40 && c <= 0x7E) {
        State was = state_;
        state_ = State::kGround;
        if (was == State::kCsi) {
          FinishCsi(c, out);
        } else {
          FinishSs3(c, out);
        }
        held_.clear();
      } else {
        // Not part of a sequence: the unfinished one is dropped.
        state_ = State::kGround;
        held_.clear();
        Ground(c, out);
      }
      return;

    case State::kUtf8:
      if ((c & 0xC0) == 0x80) {
        if (--utf8_left_ == 0) {
          state_ = State::kGround;
          AppendKey(out.keys, 0, '?', 0);
        }
      } else {
        // The character broke off: it counts as one, and `c` starts anew.
        state_ = State::kGround;
        AppendKey(out.keys, 0, '?', 0);
        Ground(c, out);
      }
      return;
  }
}

void InputDecoder::Ground(unsigned char c, Decoded& out) {
  char ascii = static_cast<char>(c);
  if (c == kEsc) {
    state_ = State::kEscape;
  } else if (c == '\r') {
    AppendKey(out.keys, VK_RETURN, ascii, 0);
  } else if (c == '\n') {
    AppendKey(out.keys, VK_RETURN, ascii, LEFT_CTRL_PRESSED);
  } else if (c == '\t') {
    AppendKey(out.keys, VK_TAB, ascii, 0);
  } else if (c == 0x08 || c == 0x7F) {
    AppendKey(out.keys, VK_BACK, 0x08, 0);
  } else if (c == 0) {
    AppendKey(out.keys, VK_SPACE, 0, LEFT_CTRL_PRESSED);
  } else if (c <= 26) {
    AppendKey(out.keys, static_cast<WORD>('A' + c - 1), ascii,
              LEFT_CTRL_PRESSED);
  } else if (c < 0x20) {
    static constexpr WORD kKeys[] = {VK_OEM_5, VK_OEM_6, '6', VK_OEM_MINUS};
    AppendKey(out.keys, kKeys[c - 0x1C], ascii, LEFT_CTRL_PRESSED);
  } else if (c == ' ') {
    AppendKey(out.keys, VK_SPACE, ascii, 0);
  } else if (c >= 'a' && c <= 'z') {
    AppendKey(out.keys, static_cast<WORD>(c - 'a' + 'A'), ascii, 0);
  } else if ((c >= 'A' && c <= 'Z')) {
    AppendKey(out.keys, c, ascii, SHIFT_PRESSED);
  } else if (c < 0x80) {
    const char* plain = std::strchr(kPlain, ascii);
    const char* shifted = std::strchr(kShifted, ascii);
    if (plain != nullptr) {
      AppendKey(out.keys, kPunctuationKeys[plain - kPlain], ascii, 0);
    } else if (shifted != nullptr) {
      AppendKey(out.keys, kPunctuationKeys[shifted - kShifted], ascii,
                SHIFT_PRESSED);
    }
  } else if (c >= 0xC2 && c <= 0xF4) {
    state_ = State::kUtf8;
    utf8_left_ = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  } else {
    AppendKey(out.keys, 0, '?', 0);  // not a byte that starts a character
  }
}

void InputDecoder::FinishCsi(unsigned char final_byte, Decoded& out) {
  std::string_view text = std::string_view(held_).substr(1);  // after '['
  // Private sequences (ESC [ ? ..., ESC [ > ...) answer questions this
  // program never asks.
  if (!text.empty() && (text[0] < '0' || text[0] > ';')) return;
  std::vector<int> p = Parameters(text);
  if (final_byte == 'R' && p.size() == 2 && p[0] > 0 && p[1] > 0) {
    out.reports.push_back(CursorReport{p[0], p[1]});
    return;
  }
  DWORD modifiers = Modifiers(p.size() > 1 ? p[1] : 0);
  if (final_byte == 'Z') {
    AppendKey(out.keys, VK_TAB, '\t', SHIFT_PRESSED);
    return;
  }
  WORD key = final_byte == '~' ? TildeKey(p[0]) : CursorKey(final_byte);
  if (key == 0) return;
  AppendKey(out.keys, key, 0, modifiers | (Enhanced(key) ? ENHANCED_KEY : 0));
}

void InputDecoder::FinishSs3(unsigned char final_byte, Decoded& out) {
  std::vector<int> p = Parameters(std::string_view(held_).substr(1));
  DWORD modifiers = Modifiers(p[0]);
  if (final_byte == 'M') {  // the keypad's Enter
    AppendKey(out.keys, VK_RETURN, '\r', modifiers | ENHANCED_KEY);
    return;
  }
  WORD key = CursorKey(final_byte);
  if (key == 0) return;
  AppendKey(out.keys, key, 0, modifiers | (Enhanced(key) ? ENHANCED_KEY : 0));
}

}  // namespace term
