// The console input queue: a held key's repeats fold into the press that
// nobody has read yet, as on a Windows console; nothing else folds.
#include "winapi/record_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

INPUT_RECORD Numbered(WORD n) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.wVirtualKeyCode = n;
  return r;
}

std::vector<WORD> Numbers(const INPUT_RECORD* records, DWORD count) {
  std::vector<WORD> numbers;
  for (DWORD i = 0; i < count; ++i)
    numbers.push_back(records[i].Event.KeyEvent.wVirtualKeyCode);
  return numbers;
}

TEST(RecordQueue, PeekLeavesTakeRemovesAppendAddsAtTheBack) {
  term::RecordQueue queue;
  INPUT_RECORD in[3] = {Numbered(1), Numbered(2), Numbered(3)};
  EXPECT_EQ(queue.Append(in, 3), 3u);

  INPUT_RECORD out[8];
  EXPECT_EQ(queue.Peek(out, 2), 2u);
  EXPECT_EQ(Numbers(out, 2), (std::vector<WORD>{1, 2}));
  EXPECT_EQ(queue.Peek(out, 8), 3u);
  EXPECT_EQ(Numbers(out, 3), (std::vector<WORD>{1, 2, 3}));

  EXPECT_EQ(queue.Take(out, 2), 2u);
  EXPECT_EQ(Numbers(out, 2), (std::vector<WORD>{1, 2}));
  INPUT_RECORD back = Numbered(4);
  EXPECT_EQ(queue.Append(&back, 1), 1u);
  EXPECT_EQ(queue.Take(out, 8), 2u);
  EXPECT_EQ(Numbers(out, 2), (std::vector<WORD>{3, 4}));
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(queue.Take(out, 8), 0u);
}

TEST(RecordQueue, FullQueueDropsNewRecords) {
  term::RecordQueue queue;
  std::vector<INPUT_RECORD> many(term::RecordQueue::kCapacity - 1, Numbered(1));
  EXPECT_EQ(queue.Append(many.data(), static_cast<DWORD>(many.size())),
            many.size());
  INPUT_RECORD two[2] = {Numbered(2), Numbered(3)};
  EXPECT_EQ(queue.Append(two, 2), 1u);
  EXPECT_EQ(queue.size(), term::RecordQueue::kCapacity);
  std::vector<INPUT_RECORD> all(term::RecordQueue::kCapacity);
  queue.Take(all.data(), static_cast<DWORD>(all.size()));
  EXPECT_EQ(all.back().Event.KeyEvent.wVirtualKeyCode, 2);
}

}  // namespace
