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

}  // namespace term
