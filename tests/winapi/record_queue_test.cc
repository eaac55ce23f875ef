// The console input queue: a held key's repeats fold into the press that
// nobody has read yet, as on a Windows console; nothing else folds.
#include "winapi/record_queue.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

INPUT_RECORD Key(char c, bool down, WORD repeats = 1, DWORD state = 0) {
  INPUT_RECORD r;
  std::memset(&r, 0, sizeof r);
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = repeats;
  r.Event.KeyEvent.wVirtualKeyCode = static_cast<WORD>(c);
  r.Event.KeyEvent.uChar.AsciiChar = c;
  r.Event.KeyEvent.dwControlKeyState = state;
  return r;
}

TEST(RecordQueue, RepeatsOfAHeldKeyFoldIntoItsUnreadPress) {
  term::RecordQueue q;
  for (int i = 0; i < 1800; ++i) q.AppendTyped(Key('h', true));
  ASSERT_EQ(q.size(), 1u);
  INPUT_RECORD out[4];
  ASSERT_EQ(q.Peek(out, 4), 1u);
  EXPECT_EQ(out[0].Event.KeyEvent.wRepeatCount, 1800);
  // Once read, a repeat starts a record of its own.
  q.Take(out, 4);
  q.AppendTyped(Key('h', true));
  q.AppendTyped(Key('h', false));
  q.AppendTyped(Key('h', false));
  EXPECT_EQ(q.size(), 3u);
}

TEST(RecordQueue, OtherKeysStatesAndWriteBacksDoNotFold) {
  term::RecordQueue q;
  q.AppendTyped(Key('a', true));
  q.AppendTyped(Key('b', true));
  q.AppendTyped(Key('b', true, 1, SHIFT_PRESSED));
  const INPUT_RECORD again = Key('b', true, 1, SHIFT_PRESSED);
  q.Append(&again, 1);
  EXPECT_EQ(q.size(), 4u);
}

TEST(RecordQueue, ACountThatWouldPassItsSixteenBitsStartsANewRecord) {
  term::RecordQueue q;
  q.AppendTyped(Key('k', true, 65000));
  q.AppendTyped(Key('k', true, 535));
  q.AppendTyped(Key('k', true));
  ASSERT_EQ(q.size(), 2u);
  INPUT_RECORD out[2];
  q.Peek(out, 2);
  EXPECT_EQ(out[0].Event.KeyEvent.wRepeatCount, 65535);
  EXPECT_EQ(out[1].Event.KeyEvent.wRepeatCount, 1);
}

}  // namespace
