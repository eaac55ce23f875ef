// The media command layer: the commands the player sends to the module
// device, and SendCommand, which echoes a command, sends it and prints its
// outcome on the same line.
#ifndef MCIPLAY_PLAYER_MCI_COMMAND_H
#define MCIPLAY_PLAYER_MCI_COMMAND_H

#include <cstddef>
#include <string_view>

// Every media call hands over a reply buffer of this many characters.
constexpr std::size_t kReplyLength = 81;
// The error text a failed command shows is fetched into a buffer of its
// own, as long as the longest the system gives (MAXERRORLENGTH).
constexpr std::size_t kErrorTextLength = 256;

inline constexpr char kOpenCommand[] =
    "open no-sn.xm type pvl_mci alias PELVARO_MCI";
inline constexpr char kTimeFormatCommand[] = "set PELVARO_MCI time format ms";
inline constexpr char kPlayCommand[] = "play PELVARO_MCI";
inline constexpr char kModeQuery[] = "status PELVARO_MCI mode";
inline constexpr char kPositionQuery[] = "status PELVARO_MCI position";
inline constexpr char kCloseCommand[] = "close PELVARO_MCI";

// Makes the device type "pvl_mci" known to the media-control service where
// the system does not know it by itself; the program calls it at start.
// Windows' service finds its drivers in the registry, so there it does
// nothing; on POSIX systems it adds the device to our own service.
void StartMedia();

// Sends `command` with the reply buffer `reply` (kReplyLength characters),
// which is cleared first so that a reply the service leaves empty reads as
// empty. Returns true when the result is 0.
bool SendQuery(const char* command, char* reply);

// The text of a reply buffer: up to the first NUL, at most kReplyLength
// characters.
std::string_view ReplyText(const char* reply);

// Writes `command` and " ... ", sends it, then writes " ok." or " Error: "
// with the reply text (or, when the reply is empty, the service's whole
// text for the error), and a line end. Returns true when the result is 0.
bool SendCommand(const char* command);

#endif  // MCIPLAY_PLAYER_MCI_COMMAND_H
