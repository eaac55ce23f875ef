#include "winapi/term_frames.h"

namespace term {

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kBel = 0x07;
// The 8-bit forms of the introducers, and of ST.
constexpr unsigned char kCsi8 = 0x9B;
constexpr unsigned char kSs38 = 0x8F;
constexpr unsigned char kSt8 = 0x9C;
// A longer CSI or SS3 is read to its end and gives nothing.
constexpr std::size_t kMaxHeld = 32;

// DCS, SOS, OSC, PM and APC: after ESC, and as C1 bytes.
bool StartsString7(unsigned char c) {
  return c == 'P' || c == 'X' || c == ']' || c == '^' || c == '_';
}
bool StartsString8(unsigned char c) {
  return c == 0x90 || c == 0x98 || c == 0x9D || c == 0x9E || c == 0x9F;
}

Frame Char(unsigned char c, bool alt = false) {
  return Frame{Frame::Kind::kChar, c, alt, {}};
}
Frame Other(bool alt) { return Frame{Frame::Kind::kOther, 0, alt, {}}; }

}  // namespace

void Framer::Enter(State state, unsigned char introducer, bool eight_bit) {
  state_ = state;
  introducer_ = introducer;
  eight_bit_ = eight_bit;
  held_.clear();
  after_introducer_ = void_ = intermediate_ = false;
}

void Framer::Byte(unsigned char c, std::vector<Frame>& out) {
  switch (state_) {
    case State::kGround: Ground(c, false, out); return;

    case State::kEscape:
      if (c == '[') {
        Enter(State::kCsi, c, false);
      } else if (c == 'O') {
        Enter(State::kSs3, c, false);
      } else if (StartsString7(c)) {
        Enter(State::kString, c, false);
      } else if (c == kEsc) {
        out.push_back(Char(kEsc));  // the Escape key; the second ESC waits
      } else {
        state_ = State::kGround;
        Ground(c, /*alt=*/true, out);
      }
      return;

    case State::kCsi:
    case State::kSs3: Sequence(c, out); return;

    case State::kUtf8:
      if ((c & 0xC0) == 0x80) {
        if (--utf8_left_ > 0) return;
        state_ = State::kGround;
        out.push_back(Other(alt_));
      } else {
        // The character broke off: it counts as one, and `c` starts anew.
        state_ = State::kGround;
        out.push_back(Other(alt_));
        Ground(c, false, out);
      }
      return;

    case State::kString:
      if (c == kBel || (c == kSt8 && eight_bit_)) {
        state_ = State::kGround;
      } else if (c == kEsc) {
        state_ = State::kStringEscape;
      } else {
        after_introducer_ = true;
      }
      return;

    case State::kStringEscape:
      if (c == '\\') {
        state_ = State::kGround;  // ST
        return;
      }
      // Not ST: the string is dropped, and its ESC starts anew.
      state_ = State::kEscape;
      Byte(c, out);
      return;

    case State::kMouse: Mouse(c, out); return;
  }
}

void Framer::Ground(unsigned char c, bool alt, std::vector<Frame>& out) {
  if (c == kEsc) {
    state_ = State::kEscape;
  } else if (c == kCsi8) {
    Enter(State::kCsi, c, true);
  } else if (c == kSs38) {
    Enter(State::kSs3, c, true);
  } else if (StartsString8(c)) {
    Enter(State::kString, c, true);
  } else if (c < 0x80) {
    out.push_back(Char(c, alt));
  } else if (c >= 0xC2 && c <= 0xF4) {
    state_ = State::kUtf8;
    utf8_left_ = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    alt_ = alt;
  } else {
    out.push_back(Other(alt));  // not a byte that starts a character
  }
}

// A byte of a CSI or SS3: a parameter, an intermediate, the final byte, or
// one that breaks the sequence off.
void Framer::Sequence(unsigned char c, std::vector<Frame>& out) {
  if (c >= 0x20 && c <= 0x3F) {
    after_introducer_ = true;
    if (c <= 0x2F) intermediate_ = true;
    if (intermediate_ || held_.size() == kMaxHeld) void_ = true;
    if (held_.size() < kMaxHeld) held_ += static_cast<char>(c);
    return;
  }
  const bool csi = state_ == State::kCsi;
  state_ = State::kGround;
  if (c < 0x40 || c > 0x7E) {
    Ground(c, false, out);  // broken off: the sequence is dropped
    return;
  }
  if (void_) return;
  if (csi && c == 'M' && held_.empty()) {
    // An X10 or UTF-8 mouse report: three values follow.
    state_ = State::kMouse;
    mouse_left_ = 3;
    mouse_lead_ = false;
    return;
  }
  out.push_back(Frame{csi ? Frame::Kind::kCsi : Frame::Kind::kSs3, c, false,
                      std::move(held_)});
  held_.clear();
}

// A value of a mouse report is one byte, or a lead byte and a continuation
// (the UTF-8 encoding); ESC means the report was cut short.
void Framer::Mouse(unsigned char c, std::vector<Frame>& out) {
  if (c == kEsc) {
    state_ = State::kEscape;
    return;
  }
  if (mouse_lead_) {
    mouse_lead_ = false;
    if ((c & 0xC0) == 0x80) {
      if (--mouse_left_ == 0) state_ = State::kGround;
      return;
    }
    // The lead was a value of its own, and `c` comes after it.
    if (--mouse_left_ == 0) {
      state_ = State::kGround;
      Ground(c, false, out);
      return;
    }
  }
  if (c >= 0xC2 && c <= 0xDF) {
    mouse_lead_ = true;
  } else if (--mouse_left_ == 0) {
    state_ = State::kGround;
  }
}

Hold Framer::HeldWait() const {
  switch (state_) {
    case State::kGround: return Hold::kNone;
    case State::kEscape:
    case State::kUtf8: return Hold::kTyped;
    case State::kCsi:
    case State::kSs3:
    case State::kString:
    case State::kStringEscape:
      return after_introducer_ ? Hold::kAnswer : Hold::kTyped;
    case State::kMouse: return Hold::kAnswer;
  }
  return Hold::kNone;
}

void Framer::Typed(std::vector<Frame>& out) const {
  if (eight_bit_) {
    out.push_back(Other(false));
    return;
  }
  out.push_back(Char(kEsc));
  out.push_back(Char(introducer_));
}

void Framer::Expire(std::vector<Frame>& out) {
  switch (state_) {
    case State::kGround: return;
    case State::kEscape: out.push_back(Char(kEsc)); break;
    case State::kUtf8: out.push_back(Other(alt_)); break;
    case State::kCsi:
    case State::kSs3:
      Typed(out);
      for (char c : held_) out.push_back(Char(static_cast<unsigned char>(c)));
      break;
    case State::kString:
    case State::kStringEscape:
      if (after_introducer_) break;  // an answer cut short
      Typed(out);
      if (state_ == State::kStringEscape) out.push_back(Char(kEsc));
      break;
    case State::kMouse: break;
  }
  Reset();
}

}  // namespace term
