// The syntax of media-control command strings: a command word, a device
// name, then keywords and values, all separated by blanks. A word may be
// enclosed in double quotes to hold blanks.
#ifndef MCIPLAY_WINMM_PARSE_H
#define MCIPLAY_WINMM_PARSE_H

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace winmm {

struct Word {
  std::string text;  // without its quotes
  bool quoted = false;
};

struct Command {
  std::string verb;
  Word device;
  std::vector<Word> words;  // everything after the device name
};

// Splits `text` into a command. Returns 0, or MCIERR_MISSING_COMMAND_STRING
// (nothing but blanks), MCIERR_MISSING_DEVICE_NAME (a command word alone)
// or MCIERR_NO_CLOSING_QUOTE.
MCIERROR ParseCommand(std::string_view text, Command& command);

// True when `word` is the keyword `keyword` (not quoted, any letter case).
bool IsKeyword(const Word& word, std::string_view keyword);

// `text` in lower case (ASCII letters only).
std::string Lower(std::string_view text);

// Reads a plain decimal number that fits 32 bits. Returns 0 or
// MCIERR_BAD_INTEGER.
MCIERROR ParseNumber(const Word& word, std::uint32_t& value);

}  // namespace winmm

#endif  // MCIPLAY_WINMM_PARSE_H
