// What the decoder's tests compare: the keys a run of reads gives.
#ifndef MCIPLAY_TESTS_WINAPI_DECODED_KEYS_H
#define MCIPLAY_TESTS_WINAPI_DECODED_KEYS_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "winapi/term_input.h"

namespace decoded {

// One key as the tests speak of it: the press and release pair collapsed.
struct Key {
  WORD vk;
  int ascii;
  DWORD state;
  bool operator==(const Key&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Key& k) {
  return out << "{vk " << k.vk << ", ascii " << k.ascii << ", state " << k.state
             << "}";
}

// Checks that the records come in press/release pairs of one key each, with
// the fields every key record has, and gives the keys.
inline std::vector<Key> Keys(const std::vector<INPUT_RECORD>& records) {
  std::vector<Key> keys;
  EXPECT_EQ(records.size() % 2, 0u);
  for (std::size_t i = 0; i + 1 < records.size(); i += 2) {
    const KEY_EVENT_RECORD& down = records[i].Event.KeyEvent;
    const KEY_EVENT_RECORD& up = records[i + 1].Event.KeyEvent;
    EXPECT_EQ(records[i].EventType, KEY_EVENT);
    EXPECT_EQ(records[i + 1].EventType, KEY_EVENT);
    EXPECT_EQ(down.bKeyDown, TRUE);
    EXPECT_EQ(up.bKeyDown, FALSE);
    EXPECT_EQ(down.wRepeatCount, 1);
    EXPECT_EQ(up.wRepeatCount, 1);
    EXPECT_EQ(down.wVirtualKeyCode, up.wVirtualKeyCode);
    EXPECT_EQ(down.uChar.UnicodeChar, up.uChar.UnicodeChar);
    EXPECT_EQ(down.dwControlKeyState, up.dwControlKeyState);
    // Nothing but the character in the union: the high byte stays clear.
    EXPECT_EQ(down.uChar.UnicodeChar & 0xFF00, 0);
    keys.push_back(Key{down.wVirtualKeyCode,
                       static_cast<unsigned char>(down.uChar.AsciiChar),
                       down.dwControlKeyState});
  }
  return keys;
}

// Decodes the pieces one after the other, as separate reads, then lets a
// held ESC or sequence expire.
inline term::Decoded Decode(std::initializer_list<std::string> pieces,
                            bool expire = true) {
  term::InputDecoder decoder;
  term::Decoded out;
  for (const std::string& piece : pieces) decoder.Feed(piece, out);
  if (expire) decoder.Expire(out);
  EXPECT_FALSE(decoder.Holding());
  return out;
}

inline std::vector<Key> KeysOf(std::initializer_list<std::string> pieces) {
  return Keys(Decode(pieces).keys);
}

}  // namespace decoded

#endif  // MCIPLAY_TESTS_WINAPI_DECODED_KEYS_H
