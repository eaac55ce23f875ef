#include "winapi/term_input.h"

#include "winapi/term_keys.h"

#include <algorithm>
#include <cstring>

namespace term {

namespace {

constexpr unsigned char kEsc = 0x1B;

// Ids that tell apart, for matching releases, the keys of the cursor and
// function key forms from those numbered by their code.
constexpr unsigned kTildeIds = 0x200000;
constexpr unsigned kFinalIds = 0x300000;
// No more keys than this are taken to be down at once.
constexpr std::size_t kMaxPressed = 32;

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
  for (char c : bytes) framer_.Byte(static_cast<unsigned char>(c), frames_);
  Interpret(out);
}

void InputDecoder::Expire(Decoded& out) {
  framer_.Expire(frames_);
  Interpret(out);
}

void InputDecoder::Interpret(Decoded& out) {
  for (const Frame& frame : frames_) {
    switch (frame.kind) {
      case Frame::Kind::kChar: Character(frame.byte, frame.alt, out); break;
      case Frame::Kind::kOther:
        AppendKey(out.keys, 0, '?', frame.alt ? LEFT_ALT_PRESSED : 0);
        break;
      case Frame::Kind::kCsi: FinishCsi(frame.text, frame.byte, out); break;
      case Frame::Kind::kSs3: FinishSs3(frame.text, frame.byte, out); break;
    }
  }
  frames_.clear();
}

// An ASCII character, control characters too; with Alt when ESC came right
// before it.
void InputDecoder::Character(unsigned char c, bool alt, Decoded& out) {
  const char ascii = static_cast<char>(c);
  const DWORD with = alt ? LEFT_ALT_PRESSED : 0;
  if (c == kEsc) {
    AppendKey(out.keys, VK_ESCAPE, ascii, with);
  } else if (c == '\r') {
    AppendKey(out.keys, VK_RETURN, ascii, with);
  } else if (c == '\n') {
    AppendKey(out.keys, VK_RETURN, ascii, with | LEFT_CTRL_PRESSED);
  } else if (c == '\t') {
    AppendKey(out.keys, VK_TAB, ascii, with);
  } else if (c == 0x08 || c == 0x7F) {
    AppendKey(out.keys, VK_BACK, 0x08, with);
  } else if (c == 0) {
    AppendKey(out.keys, VK_SPACE, 0, with | LEFT_CTRL_PRESSED);
  } else if (c <= 26) {
    AppendKey(out.keys, static_cast<WORD>('A' + c - 1), ascii,
              with | LEFT_CTRL_PRESSED);
  } else if (c < 0x20) {
    static constexpr WORD kKeys[] = {VK_OEM_5, VK_OEM_6, '6', VK_OEM_MINUS};
    AppendKey(out.keys, kKeys[c - 0x1C], ascii, with | LEFT_CTRL_PRESSED);
  } else if (c == ' ') {
    AppendKey(out.keys, VK_SPACE, ascii, with);
  } else if (c >= 'a' && c <= 'z') {
    AppendKey(out.keys, static_cast<WORD>(c - 'a' + 'A'), ascii, with);
  } else if ((c >= 'A' && c <= 'Z')) {
    AppendKey(out.keys, c, ascii, with | SHIFT_PRESSED);
  } else {
    const char* plain = std::strchr(kPlain, ascii);
    const char* shifted = std::strchr(kShifted, ascii);
    if (plain != nullptr) {
      AppendKey(out.keys, kPunctuationKeys[plain - kPlain], ascii, with);
    } else if (shifted != nullptr) {
      AppendKey(out.keys, kPunctuationKeys[shifted - kShifted], ascii,
                with | SHIFT_PRESSED);
    }
  }
}

void InputDecoder::FinishCsi(std::string_view text, unsigned char final_byte,
                             Decoded& out) {
  if (!text.empty() && text[0] == '?') {
    // Answers: the keyboard protocol's flags, the device attributes.
    if (final_byte == 'u') {
      out.protocol_flags.push_back(Parameters(text.substr(1))[0][0]);
    } else if (final_byte == 'c') {
      ++out.attribute_answers;
    }
    return;
  }
  // Other private sequences (ESC [ > ...) answer questions this program
  // never asks.
  if (!text.empty() && (text[0] < '0' || text[0] > ';')) return;
  Fields p = Parameters(text);
  if (final_byte == 'R' && p.size() == 2 && p[0].size() == 1 &&
      p[1].size() == 1 && p[0][0] > 0 && p[1][0] > 0) {
    out.reports.push_back(CursorReport{p[0][0], p[1][0]});
    return;
  }
  DWORD modifiers = Modifiers(FieldOr(p, 1, 0, 1));
  int event = FieldOr(p, 1, 1, 1);
  if (final_byte == 'u') {
    ProtocolKey(p[0][0], FieldOr(p, 0, 1, 0), modifiers, event, out);
    return;
  }
  if (final_byte == 'Z') {
    Event(kFinalIds + 'Z', VK_TAB, '\t', SHIFT_PRESSED, event, out);
    return;
  }
  WORD key = final_byte == '~' ? TildeKey(p[0][0]) : CursorKey(final_byte);
  if (key == 0) return;
  unsigned id = final_byte == '~' ? kTildeIds + static_cast<unsigned>(p[0][0])
                                  : kFinalIds + final_byte;
  Event(id, key, 0, modifiers | (Enhanced(key) ? ENHANCED_KEY : 0), event, out);
}

void InputDecoder::ProtocolKey(int code, int shifted, DWORD state, int event,
                               Decoded& out) {
  const bool shift = (state & SHIFT_PRESSED) != 0;
  const bool ctrl = (state & LEFT_CTRL_PRESSED) != 0;
  const unsigned id = static_cast<unsigned>(code);
  WORD key = 0;
  char ascii = 0;
  switch (code) {
    case 13: Event(id, VK_RETURN, '\r', state, event, out); return;
    case 9: Event(id, VK_TAB, '\t', state, event, out); return;
    case 8:
    case 127: Event(id, VK_BACK, 0x08, state, event, out); return;
    case 27: Event(id, VK_ESCAPE, kEsc, state, event, out); return;
    case 32: Event(id, VK_SPACE, ctrl ? 0 : ' ', state, event, out); return;
    default: break;
  }
  if (code >= 'a' && code <= 'z') {
    key = static_cast<WORD>(code - 'a' + 'A');
    // Caps Lock turns the letter's case round, as Shift does.
    bool upper = shift != ((state & CAPSLOCK_ON) != 0);
    ascii = ctrl    ? static_cast<char>(code - 'a' + 1)
            : upper ? static_cast<char>(code - 'a' + 'A')
                    : static_cast<char>(code);
  } else if (code > 32 && code < 127) {
    const char* plain = std::strchr(kPlain, code);
    if (plain == nullptr) return;  // not a key of its own (a shifted form)
    std::size_t index = static_cast<std::size_t>(plain - kPlain);
    key = kPunctuationKeys[index];
    // The character the terminal says Shift gives, or that of a US layout.
    char with_shift = shifted > 32 && shifted < 127 ? static_cast<char>(shifted)
                                                    : kShifted[index];
    ascii = shift ? with_shift : static_cast<char>(code);
    if (ctrl) {
      switch (code) {
        case '[': ascii = 0x1B; break;
        case '\\': ascii = 0x1C; break;
        case ']': ascii = 0x1D; break;
        case '6': ascii = 0x1E; break;
        case '-': ascii = 0x1F; break;
        default: ascii = 0; break;
      }
    }
  } else if (code >= 57344 && code <= 63743) {  // the private use area
    ProtocolKeyInfo info = PrivateKey(code);
    if (info.virtual_key == 0) return;
    Event(id, info.virtual_key, info.ascii, state | info.state, event, out);
    return;
  } else if (code >= 128 && code <= 0x10FFFF) {
    // A key of another layout: its character is outside ASCII.
    ascii = '?';
  } else {
    return;
  }
  Event(id, key, ascii, state, event, out);
}

void InputDecoder::Event(unsigned id, WORD virtual_key, char ascii, DWORD state,
                         int event, Decoded& out) {
  if (!events_) {
    AppendKey(out.keys, virtual_key, ascii, state);
    return;
  }
  if (event < 1 || event > 3) return;
  auto seen = std::find(pressed_.begin(), pressed_.end(), id);
  if (event == 3) {
    if (seen == pressed_.end()) return;  // its press came before we listened
    pressed_.erase(seen);
  } else if (seen == pressed_.end()) {
    if (pressed_.size() == kMaxPressed) pressed_.erase(pressed_.begin());
    pressed_.push_back(id);
  }
  INPUT_RECORD record;
  std::memset(&record, 0, sizeof record);
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = event == 3 ? FALSE : TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
  record.Event.KeyEvent.uChar.AsciiChar = ascii;
  record.Event.KeyEvent.dwControlKeyState = state;
  out.keys.push_back(record);
}

void InputDecoder::FinishSs3(std::string_view text, unsigned char final_byte,
                             Decoded& out) {
  Fields p = Parameters(text);
  DWORD modifiers = Modifiers(p[0][0]);
  if (final_byte == 'M') {  // the keypad's Enter
    AppendKey(out.keys, VK_RETURN, '\r', modifiers | ENHANCED_KEY);
    return;
  }
  WORD key = CursorKey(final_byte);
  if (key == 0) return;
  AppendKey(out.keys, key, 0, modifiers | (Enhanced(key) ? ENHANCED_KEY : 0));
}

}  // namespace term
