// A stand-in for the media service, for runs of the whole program without
// sound: it answers the program's commands from a script kept in
// environment variables, whose names the scripted driver of the Windows
// build (tests/wine/driver/) shares.
//   MCIPLAY_SCRIPT_MS       how long the piece plays, in ms (default 2000)
//   MCIPLAY_SCRIPT_FAIL     the first word of a command that fails
//                           ("open", "set", "play", "close")
//   MCIPLAY_SCRIPT_OPEN_MS  how long the open command takes (default 0)
//   MCIPLAY_SCRIPT_LOG      a file that receives every command, one a line
// The mode is "playing" from the play command until the length has passed,
// then "stopped"; the position is the time since the play command.
#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "player/mci_command.h"

namespace {

using Clock = std::chrono::steady_clock;

bool g_open = false;
bool g_playing = false;
Clock::time_point g_started;

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10)
                                          : fallback;
}

void Log(std::string_view command) {
  const char* path = std::getenv("MCIPLAY_SCRIPT_LOG");
  if (path == nullptr) return;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%.*s\n", static_cast<int>(command.size()), command.data());
    std::fclose(f);
  }
}

MCIERROR Reply(LPSTR out, UINT length, const std::string& text,
               MCIERROR result) {
  if (out != nullptr && length > 0) {
    std::size_t n = std::min<std::size_t>(text.size(), length - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  return result;
}

long ElapsedMs() {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                            g_started)
          .count());
}

}  // namespace

extern "C" MCIERROR WINAPI mciSendStringA(LPCSTR command, LPSTR reply,
                                          UINT length, HWND) {
  std::string_view text(command);
  Log(text);
  std::string_view verb = text.substr(0, text.find(' '));
  const char* fail = std::getenv("MCIPLAY_SCRIPT_FAIL");
  if (fail != nullptr && verb == fail)
    return Reply(reply, length, "Device refused.", MCIERR_DEVICE_NOT_READY);

  const long play_ms = EnvNumber("MCIPLAY_SCRIPT_MS", 2000);
  if (verb == "open") {
    Sleep(static_cast<DWORD>(EnvNumber("MCIPLAY_SCRIPT_OPEN_MS", 0)));
    g_open = true;
    return Reply(reply, length, "1", 0);
  }
  if (!g_open)
    return Reply(reply, length, "Invalid device.", MCIERR_INVALID_DEVICE_NAME);
  if (verb == "set") return Reply(reply, length, "", 0);
  if (verb == "play") {
    g_playing = true;
    g_started = Clock::now();
    return Reply(reply, length, "", 0);
  }
  if (text == "status PELVARO_MCI mode") {
    bool playing = g_playing && ElapsedMs() < play_ms;
    return Reply(reply, length, playing ? "playing" : "stopped", 0);
  }
  if (text == "status PELVARO_MCI position") {
    long position = g_playing ? std::min(ElapsedMs(), play_ms) : 0;
    return Reply(reply, length, std::to_string(position), 0);
  }
  if (verb == "close") {
    g_open = g_playing = false;
    return Reply(reply, length, "", 0);
  }
  return Reply(reply, length, "Unrecognized command.",
               MCIERR_UNRECOGNIZED_COMMAND);
}

// The scripted service knows its one device from the start.
void StartMedia() {}

extern "C" BOOL WINAPI mciGetErrorStringA(MCIERROR, LPSTR text, UINT length) {
  Reply(text, length, "Scripted device error.", 0);
  return TRUE;
}
