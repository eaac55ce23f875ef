// The terminal's input. There is no reading thread: the bytes the terminal
// sent are read and decoded when the program peeks, reads or asks where the
// cursor is, into the console input queue (a key's repeats folded into one
// record), the answers to the cursor request, and those about the keyboard
// protocol. It also starts and ends the program's hold on the terminal
// (terminal_owner.h).
//
// The terminal is standard input's; when that is not one but standard
// output is, the controlling terminal's, for the cursor answers only.
// What it does with what the terminal sends: winapi/README.md.
#ifndef MCIPLAY_WINAPI_INPUT_READER_H
#define MCIPLAY_WINAPI_INPUT_READER_H

#include <chrono>
#include <vector>

#include "winapi/record_queue.h"
#include "winapi/term_input.h"

namespace term {

class InputReader {
 public:
  InputReader();   // takes the terminal and asks about the protocol
  ~InputReader();  // gives it back
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // Key records come only from a terminal on standard input.
  bool HasKeys() const { return keys_count_; }
  RecordQueue& queue() { return queue_; }

  // Takes in everything the terminal has sent so far, without waiting.
  void Poll();

  // Waits until the queue holds a record: for ever, or at most `wait`.
  // True when it does.
  void WaitForRecord();
  bool WaitForRecord(std::chrono::milliseconds wait);

  // Drops the records queued, what the decoder holds and, in the
  // foreground, the bytes the terminal sent that were not read yet; in the
  // background those are the shell's. False when the terminal refused.
  bool Discard();

  // Asks where the cursor is, writing the request to screen `out_fd`;
  // gives the 1-based row and column. False when the terminal cannot be
  // asked, or does not answer in time: then it is never asked again.
  bool CursorPosition(int out_fd, CursorReport& where);

 private:
  using Clock = std::chrono::steady_clock;
  enum class Until { kNothing, kRecord, kReport, kAttributes };

  void AskKeyProtocol();
  bool WaitForForeground();
  void SendCursorRequest();
  bool CatchUp();
  bool Done(Until until) const;
  bool Pump(Until until, std::chrono::milliseconds wait);
  bool ReadSome(int timeout_ms);
  std::chrono::milliseconds HeldWait() const;
  void ExpireEscape();
  void Take(const Decoded& decoded);
  bool Signalled(const INPUT_RECORD& record);

  int fd_ = -1;
  int own_fd_ = -1;
  int request_fd_ = 1;  // the screen the cursor request went to
  bool keys_count_ = false;
  bool dead_ = false;
  bool asked_ = false;
  bool protocol_seen_ = false;
  bool attributes_seen_ = false;
  int resumes_seen_ = 0;
  InputDecoder decoder_;
  RecordQueue queue_;
  std::vector<CursorReport> reports_;
  Clock::time_point last_byte_;
};

}  // namespace term

#endif  // MCIPLAY_WINAPI_INPUT_READER_H
