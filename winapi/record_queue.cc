#include "winapi/record_queue.h"

#include <algorithm>

namespace term {

DWORD RecordQueue::Peek(INPUT_RECORD* out, DWORD count) const {
  std::size_t n = std::min<std::size_t>(count, records_.size());
  std::copy_n(records_.begin(), n, out);
  return static_cast<DWORD>(n);
}

DWORD RecordQueue::Take(INPUT_RECORD* out, DWORD count) {
  DWORD n = Peek(out, count);
  records_.erase(records_.begin(), records_.begin() + n);
  return n;
}

DWORD RecordQueue::Append(const INPUT_RECORD* records, DWORD count) {
  std::size_t room = kCapacity - std::min(kCapacity, records_.size());
  std::size_t n = std::min<std::size_t>(count, room);
  records_.insert(records_.end(), records, records + n);
  return static_cast<DWORD>(n);
}

namespace {

bool SameKeyDown(const KEY_EVENT_RECORD& a, const KEY_EVENT_RECORD& b) {
  return a.bKeyDown && b.bKeyDown && a.wVirtualKeyCode == b.wVirtualKeyCode &&
         a.wVirtualScanCode == b.wVirtualScanCode &&
         a.uChar.AsciiChar == b.uChar.AsciiChar &&
         a.dwControlKeyState == b.dwControlKeyState;
}

}  // namespace

void RecordQueue::AppendTyped(const INPUT_RECORD& record) {
  if (record.EventType == KEY_EVENT && !records_.empty() &&
      records_.back().EventType == KEY_EVENT) {
    KEY_EVENT_RECORD& last = records_.back().Event.KeyEvent;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const unsigned sum = unsigned{last.wRepeatCount} + key.wRepeatCount;
    if (SameKeyDown(last, key) && sum <= 0xFFFF) {
      last.wRepeatCount = static_cast<WORD>(sum);
      return;
    }
  }
  Append(&record, 1);
}

}  // namespace term
