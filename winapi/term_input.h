// Turns the bytes a terminal sends into console input records.
//
// Every key becomes a press record followed by a release record. Characters
// carry their code in AsciiChar (Enter 13, Tab 9, Backspace 8, Escape 27,
// Ctrl+letter 1 to 26); cursor, navigation and function keys, which arrive as
// escape sequences, carry AsciiChar 0. A character outside ASCII, sent as
// UTF-8, is one key with AsciiChar '?'. The terminal's answers to a cursor
// position request (ESC [ row ; column R) are handed out separately.
//
// The bytes are first cut into frames by the grammar of control sequences
// (term_frames.h): control strings and mouse reports are never keys, and
// neither is a sequence of a form no key has. The decoder keeps its state
// between calls, so a sequence may arrive split over several reads. What
// is held waits for more bytes for as long as HeldWait says; when none
// come the caller calls Expire, and what could have been typed counts as
// keys typed one by one (a lone ESC is the Escape key).
//
// A terminal that speaks the progressive keyboard protocol, once asked to
// report event types (ReportEvents), sends every key as an escape sequence
// (ESC [ code ; modifiers : event u, or the cursor and function key forms
// with ": event" after the modifiers) for its press, each repeat and its
// release. Each becomes one record then: a press or a repeat a record with
// bKeyDown set and wRepeatCount 1 (the queue folds repeats), a release one
// with bKeyDown clear. A
// release counts only for a key whose press or repeat was seen, so the
// release of a key held down before the protocol was on gives nothing.
// Characters that still come as plain bytes (pasted text) are a press and a
// release each, as before.
#ifndef MCIPLAY_WINAPI_TERM_INPUT_H
#define MCIPLAY_WINAPI_TERM_INPUT_H

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "winapi/term_frames.h"

namespace term {

// A cursor position report, 1-based as the terminal sends it.
struct CursorReport {
  int row;
  int column;
};

struct Decoded {
  std::vector<INPUT_RECORD> keys;
  std::vector<CursorReport> reports;
  // The terminal's answers to the protocol query (ESC [ ? flags u): the
  // flags in force; and the number of primary device attribute answers
  // (ESC [ ? ... c).
  std::vector<int> protocol_flags;
  int attribute_answers = 0;
};

class InputDecoder {
 public:
  void Feed(std::string_view bytes, Decoded& out);

  // True while bytes are held that may start a longer sequence, and how
  // long they may wait for the rest of it.
  bool Holding() const { return HeldWait() != Hold::kNone; }
  Hold HeldWait() const { return framer_.HeldWait(); }

  // No more bytes came: what was held and could have been typed counts as
  // keys of their own; an answer cut short gives nothing.
  void Expire(Decoded& out);

  // What is held is dropped (the input it came with was discarded).
  void Reset() { framer_.Reset(); }

  // The terminal reports presses, repeats and releases from now on.
  void ReportEvents(bool on) { events_ = on; }
  bool ReportsEvents() const { return events_; }

  // Keys pressed so far and not released are forgotten: their releases will
  // give nothing (the terminal was away, or what it sent was dropped).
  void ForgetPressed() { pressed_.clear(); }

 private:
  void Interpret(Decoded& out);
  void Character(unsigned char c, bool alt, Decoded& out);
  void FinishCsi(std::string_view text, unsigned char final_byte, Decoded& out);
  void FinishSs3(std::string_view text, unsigned char final_byte, Decoded& out);
  void ProtocolKey(int code, int shifted, DWORD state, int event, Decoded& out);
  // A key from an escape sequence. `id` tells keys apart for matching a
  // release with its press; `event` is 1 press, 2 repeat, 3 release.
  void Event(unsigned id, WORD virtual_key, char ascii, DWORD state, int event,
             Decoded& out);

  Framer framer_;
  std::vector<Frame> frames_;  // cut from the bytes, not yet interpreted
  bool events_ = false;
  std::vector<unsigned> pressed_;  // ids of keys down, oldest first
};

// Appends the press and the release of one key.
void AppendKey(std::vector<INPUT_RECORD>& keys, WORD virtual_key, char ascii,
               DWORD control_state);

}  // namespace term

#endif  // MCIPLAY_WINAPI_TERM_INPUT_H
