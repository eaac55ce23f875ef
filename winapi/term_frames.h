// Cuts the bytes a terminal sends into frames by the grammar of control
// sequences (ECMA-48, with xterm's mouse reports), before anything is taken
// for a key:
//   - a character: an ASCII byte (controls too), or a character outside
//     ASCII (UTF-8, or a byte that starts none), with Alt when ESC came
//     right before it;
//   - a CSI (ESC [ or 0x9B) or SS3 (ESC O or 0x8F) sequence: its parameter
//     text and final byte. One with intermediates (0x20-0x2F), with a
//     parameter after an intermediate, or with more than 32 bytes of text
//     is read to its end and gives nothing: no key has such a form;
//   - nothing, for a control string (OSC, DCS, APC, PM, SOS, 7-bit or
//     8-bit) up to its BEL or ST, and for a mouse report in any encoding:
//     X10 and UTF-8 (ESC [ M and three values, a value being a byte or a
//     two-byte UTF-8 character), SGR and urxvt (CSI forms that give no key).
// A C0 control, ESC or a byte of 0x80 or more inside a CSI or SS3 breaks it
// off and counts as itself; an ESC that is not ST ends a string or a mouse
// report and starts anew. Nothing of a string is stored: it costs nothing
// however long it runs.
//
// The framer keeps its state between reads. When nothing more comes,
// Expire ends what is held: what could still be a person typing (a lone
// ESC, an introducer alone, a character cut short) counts as typed, ESC
// being the Escape key; a CSI or SS3 cut short is replayed as typed too,
// as its bytes would have been; a string or a mouse report cut short is
// dropped. HeldWait says how long the caller should let it wait first.
#ifndef MCIPLAY_WINAPI_TERM_FRAMES_H
#define MCIPLAY_WINAPI_TERM_FRAMES_H

#include <string>
#include <vector>

namespace term {

struct Frame {
  enum class Kind { kChar, kOther, kCsi, kSs3 };
  Kind kind = Kind::kChar;
  // kChar: the byte; kCsi, kSs3: the final byte.
  unsigned char byte = 0;
  bool alt = false;  // kChar, kOther: ESC came right before it
  std::string text;  // kCsi, kSs3: the parameters and intermediates
};

// How long held bytes may wait for the rest of their sequence: not at all
// (nothing is held), as long as a key typed after ESC may take, or as long
// as the rest of a terminal's answer may take on its way.
enum class Hold { kNone, kTyped, kAnswer };

class Framer {
 public:
  void Byte(unsigned char c, std::vector<Frame>& out);
  Hold HeldWait() const;
  void Expire(std::vector<Frame>& out);
  // Back to the ground state; what is held is dropped.
  void Reset() { *this = Framer(); }

 private:
  enum class State {
    kGround,
    kEscape,
    kCsi,
    kSs3,
    kUtf8,
    kString,
    kStringEscape,
    kMouse
  };

  void Ground(unsigned char c, bool alt, std::vector<Frame>& out);
  void Sequence(unsigned char c, std::vector<Frame>& out);
  void Mouse(unsigned char c, std::vector<Frame>& out);
  void Enter(State state, unsigned char introducer, bool eight_bit);
  // The introducer as typed: Escape and its character, or the C1 byte.
  void Typed(std::vector<Frame>& out) const;

  State state_ = State::kGround;
  unsigned char introducer_ = 0;  // '[', 'O', ']', 'P', ... or the C1 byte
  bool eight_bit_ = false;
  std::string held_;  // a CSI's or SS3's text, at most kMaxHeld bytes
  bool after_introducer_ = false;  // any byte came after the introducer
  bool void_ = false;              // intermediates, or too long: gives nothing
  bool intermediate_ = false;
  int utf8_left_ = 0;
  bool alt_ = false;  // the character being read came after ESC
  int mouse_left_ = 0;
  bool mouse_lead_ = false;  // the first byte of a two-byte value came
};

}  // namespace term

#endif  // MCIPLAY_WINAPI_TERM_FRAMES_H
