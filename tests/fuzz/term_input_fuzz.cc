// Any bytes from a terminal through the key decoder, split into reads at any
// points, with the ESC wait running out between any two reads. The decoder
// never crashes and gives only well-formed key records; when the wait never
// runs out, how the bytes were split does not change what they give; and
// the same bytes (less BEL and ESC, which would end it) inside a control
// string between two keys give those two keys and nothing else.
//
// Input: one byte of options (bit 0: the terminal reports key events), then
// reads, each a header byte (low 6 bits: its length; bit 6: the wait runs
// out after it) and that many bytes.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "winapi/term_input.h"

namespace {

constexpr DWORD kKnownState = RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED |
                              RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED |
                              SHIFT_PRESSED | NUMLOCK_ON | SCROLLLOCK_ON |
                              CAPSLOCK_ON | ENHANCED_KEY;

void Check(bool holds) {
  if (!holds) std::abort();
}

bool SameKey(const KEY_EVENT_RECORD& a, const KEY_EVENT_RECORD& b) {
  return a.wVirtualKeyCode == b.wVirtualKeyCode &&
         a.uChar.UnicodeChar == b.uChar.UnicodeChar &&
         a.dwControlKeyState == b.dwControlKeyState &&
         a.wRepeatCount == b.wRepeatCount;
}

void CheckWellFormed(const term::Decoded& out, bool events) {
  std::map<WORD, int> down;  // presses minus releases, per key
  for (std::size_t i = 0; i < out.keys.size(); ++i) {
    const INPUT_RECORD& r = out.keys[i];
    const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
    Check(r.EventType == KEY_EVENT);
    Check(k.bKeyDown == TRUE || k.bKeyDown == FALSE);
    Check(k.wRepeatCount == 1);
    Check(k.wVirtualScanCode == 0);
    Check((k.uChar.UnicodeChar & 0xFF00) == 0);
    Check((k.dwControlKeyState & ~kKnownState) == 0);
    Check(k.wVirtualKeyCode != 0 || k.uChar.AsciiChar != 0);
    if (k.bKeyDown) {
      ++down[k.wVirtualKeyCode];
    } else {
      // A release only ever follows a press of its key.
      Check(down[k.wVirtualKeyCode]-- > 0);
    }
    if (!events) {
      // Without event reports every key is a press and its release.
      Check(k.bKeyDown == (i % 2 == 0 ? TRUE : FALSE));
      if (i % 2 == 1) Check(SameKey(out.keys[i - 1].Event.KeyEvent, k));
    }
  }
  if (!events) Check(out.keys.size() % 2 == 0);
  for (const term::CursorReport& report : out.reports)
    Check(report.row > 0 && report.column > 0);
}

bool SameRecords(const term::Decoded& a, const term::Decoded& b) {
  if (a.keys.size() != b.keys.size() || a.reports.size() != b.reports.size() ||
      a.protocol_flags != b.protocol_flags ||
      a.attribute_answers != b.attribute_answers)
    return false;
  for (std::size_t i = 0; i < a.keys.size(); ++i) {
    if (std::memcmp(&a.keys[i], &b.keys[i], sizeof(INPUT_RECORD)) != 0)
      return false;
  }
  for (std::size_t i = 0; i < a.reports.size(); ++i) {
    if (a.reports[i].row != b.reports[i].row ||
        a.reports[i].column != b.reports[i].column)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const bool events = (data[0] & 1) != 0;

  term::InputDecoder split;
  split.ReportEvents(events);
  term::Decoded split_out;
  std::string all;
  bool expired = false;
  std::size_t at = 1;
  while (at < size) {
    const unsigned header = data[at++];
    std::size_t length = header & 0x3F;
    if (length > size - at) length = size - at;
    std::string_view bytes(reinterpret_cast<const char*>(data + at), length);
    at += length;
    split.Feed(bytes, split_out);
    all.append(bytes);
    if ((header & 0x40) != 0 && split.Holding()) {
      split.Expire(split_out);
      expired = true;
    }
  }
  split.Expire(split_out);
  Check(!split.Holding());
  CheckWellFormed(split_out, events);

  // The same bytes in one read, and one byte a read.
  term::InputDecoder whole;
  whole.ReportEvents(events);
  term::Decoded whole_out;
  whole.Feed(all, whole_out);
  whole.Expire(whole_out);
  CheckWellFormed(whole_out, events);

  term::InputDecoder bytewise;
  bytewise.ReportEvents(events);
  term::Decoded bytewise_out;
  for (char c : all) bytewise.Feed(std::string_view(&c, 1), bytewise_out);
  bytewise.Expire(bytewise_out);

  Check(SameRecords(whole_out, bytewise_out));
  if (!expired) Check(SameRecords(split_out, whole_out));

  std::string string = "a\x1b]";
  for (char c : all)
    if (c != '\a' && c != '\x1b') string += c;
  string += "\ab";
  term::InputDecoder around;
  around.ReportEvents(events);
  term::Decoded around_out;
  around.Feed(string, around_out);
  Check(!around.Holding() && around_out.keys.size() == 4 &&
        around_out.keys[0].Event.KeyEvent.uChar.AsciiChar == 'a' &&
        around_out.keys[2].Event.KeyEvent.uChar.AsciiChar == 'b');
  return 0;
}
