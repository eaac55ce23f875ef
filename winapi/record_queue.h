// The console input queue: records in arrival order. Peek copies from the
// front and leaves them, Take copies and removes them, Append adds at the
// back (records the program writes back), AppendTyped adds a record the
// terminal sent, folding a held key's repeat into its unread press. When
// the queue holds kCapacity records, further ones are dropped, as a full
// input buffer drops keys; clear drops them all.
#ifndef MCIPLAY_WINAPI_RECORD_QUEUE_H
#define MCIPLAY_WINAPI_RECORD_QUEUE_H

#include <windows.h>

#include <cstddef>
#include <deque>

namespace term {

class RecordQueue {
 public:
  static constexpr std::size_t kCapacity = 4096;

  DWORD Peek(INPUT_RECORD* out, DWORD count) const;
  DWORD Take(INPUT_RECORD* out, DWORD count);
  DWORD Append(const INPUT_RECORD* records, DWORD count);
  void AppendTyped(const INPUT_RECORD& record);
  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  void clear() { records_.clear(); }

 private:
  std::deque<INPUT_RECORD> records_;
};

}  // namespace term

#endif  // MCIPLAY_WINAPI_RECORD_QUEUE_H
