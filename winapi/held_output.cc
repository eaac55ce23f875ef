#include "winapi/held_output.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace term {

namespace {

// The line the terminal shows after `bytes` were written to `fd`: the
// handlers end an unfinished one, so the shell's prompt starts a new row.
void NoteLine(HeldOutput& held, int fd, const char* bytes, std::size_t done) {
  if (done == 0) return;
  held.line_fd = fd;
  held.line_open = bytes[done - 1] != '\n';
}

std::size_t WriteAndNote(HeldOutput& held, int fd, const char* bytes,
                         std::size_t length, bool wait_for_room = true) {
  const std::size_t done = WriteWhole(fd, bytes, length, wait_for_room);
  NoteLine(held, fd, bytes, done);
  return done;
}

}  // namespace

std::size_t WriteWhole(int fd, const char* bytes, std::size_t length,
                       bool wait_for_room) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, bytes + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && wait_for_room &&
               (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      break;  // a closed pipe (EPIPE) or another error: the rest is lost
    }
  }
  return done;
}

void Hold(HeldOutput& held, int fd, const char* bytes, std::size_t length) {
  if (length == 0) return;
  const std::size_t before = held.length.load();
  if (before > 0 &&
      (held.fd.load() != fd || before + length > HeldOutput::kSize))
    SendHeld(held);
  if (length > HeldOutput::kSize) {
    WriteAndNote(held, fd, bytes, length);
    return;
  }
  const std::size_t at = held.length.load();
  std::memcpy(held.bytes + at, bytes, length);
  held.fd.store(fd);
  // Only a handler changes the length behind our back, and only to 0 after
  // sending bytes[0, at): the new bytes then move to the front.
  std::size_t expected = at;
  if (!held.length.compare_exchange_strong(expected, at + length)) {
    std::memmove(held.bytes, held.bytes + at, length);
    held.length.store(length);
  }
}

bool SendHeld(HeldOutput& held) {
  const std::size_t length = held.length.load();
  if (length == 0) return true;
  held.sending.store(1);
  const std::size_t done =
      WriteAndNote(held, held.fd.load(), held.bytes, length);
  held.length.store(0);
  held.sending.store(0);
  return done == length;
}

void SendHeldInHandler(HeldOutput& held) {
  if (held.sending.load()) return;
  const std::size_t length = held.length.load();
  if (length == 0) return;
  WriteAndNote(held, held.fd.load(), held.bytes, length,
               /*wait_for_room=*/false);
  held.length.store(0);
}

}  // namespace term
