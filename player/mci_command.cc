#include "player/mci_command.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "console/text_out.h"

namespace {

MCIERROR Send(const char* command, char* reply) {
  std::memset(reply, 0, kReplyLength);
  return mciSendStringA(command, reply, kReplyLength, nullptr);
}

}  // namespace

bool SendQuery(const char* command, char* reply) {
  return Send(command, reply) == 0;
}

std::string_view ReplyText(const char* reply) {
  const void* nul = std::memchr(reply, '\0', kReplyLength);
  std::size_t length =
      nul != nullptr
          ? static_cast<std::size_t>(static_cast<const char*>(nul) - reply)
          : kReplyLength;
  return std::string_view(reply, length);
}

bool SendCommand(const char* command) {
  char reply[kReplyLength];
  WriteText(command);
  WriteText(" ... ");
  if (const MCIERROR result = Send(command, reply); result != 0) {
    // Windows' service leaves the reply empty when a command fails: its own
    // text for the error then says why, whole. The number is never shown.
    char text[kErrorTextLength] = "";
    std::string_view reason = ReplyText(reply);
    if (reason.empty() && mciGetErrorStringA(result, text, sizeof text)) {
      text[sizeof text - 1] = '\0';
      reason = text;
    }
    WriteText(" Error: ");
    WriteText(reason);
    EndLine();
    return false;
  }
  WriteText(" ok.");
  EndLine();
  return true;
}
