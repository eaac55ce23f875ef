// The lines the program prints, as every test of it expects them: the
// command lines with their results, the position line, and the end.
#ifndef MCIPLAY_TESTS_SUPPORT_EXPECTED_LINES_H
#define MCIPLAY_TESTS_SUPPORT_EXPECTED_LINES_H

#include <cstdint>
#include <cstdio>
#include <string>

inline const std::string kOpenLine =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  ok.";
// A failed open, up to the reason.
inline const std::string kOpenFailed =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI ...  Error: ";
inline const std::string kTimeFormatLine =
    "set PELVARO_MCI time format ms ...  ok.";
inline const std::string kPlayLine = "play PELVARO_MCI ...  ok.";
inline const std::string kCloseLine = "close PELVARO_MCI ...  ok.";
inline const std::string kPrompt = "Press a key to exit";

// Everything a whole run writes when its output is a file: the finished
// lines and no position line.
inline const std::string kLinesOfAWholeRun =
    kOpenLine + "\r\n" + kTimeFormatLine + "\r\n" + kPlayLine + "\r\n" +
    kCloseLine + "\r\nDone!\r\n" + kPrompt + "\r\n";

// The position line showing `time` ("mm:ss.hh").
inline std::string StatusLine(const std::string& time) {
  return "Playing: " + time + " ...press a Key to stop.";
}

// The position line showing `ms` milliseconds.
inline std::string StatusLineAt(std::uint64_t ms) {
  char time[16];
  std::snprintf(time, sizeof time, "%02u:%02u.%02u",
                static_cast<unsigned>(ms / 60000 % 100),
                static_cast<unsigned>(ms / 1000 % 60),
                static_cast<unsigned>(ms / 10 % 100));
  return StatusLine(time);
}

#endif  // MCIPLAY_TESTS_SUPPORT_EXPECTED_LINES_H
