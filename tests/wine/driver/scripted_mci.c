/*
 * A scripted media driver for the device type "pvl_mci", for running the
 * Windows build against a device whose behaviour the tests choose.
 *
 * It is an installable driver as the media control service loads them: the
 * service calls DriverProc with the driver messages (load, enable, open,
 * close, free) and then with one media command message per command string,
 * with the wide-character parameter structures. The driver decodes nothing:
 * "play" starts a clock, and the device reports "playing" until the clock
 * passes the length of the piece, which the environment gives, with the
 * names the scripted service of the POSIX build (tests/support/) reads:
 *
 *   MCIPLAY_SCRIPT_MS   length of the piece in milliseconds (default 2000)
 *   MCIPLAY_SCRIPT_LOG  when set, a file to which the driver appends one line
 *                       per media command it receives, so a test can check
 *                       what the service passed on
 *
 * One device at a time: the program opens one, and that is all the tests
 * need.
 */
#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

/* What DRV_OPEN hands back when the service opens the driver without
 * parameters; the service only needs a non-zero value. */
#define BARE_DRIVER_ID 1
#define DEVICE_DRIVER_ID 2

#define DEFAULT_LENGTH_MS 2000

typedef struct {
  BOOL open;
  BOOL playing;     /* a play command has started the clock */
  ULONGLONG start;  /* tick count at the play command */
  DWORD stopped_at; /* position kept by a stop command */
  DWORD length_ms;
  DWORD time_format;
} Device;

static Device g_device;

static DWORD LengthFromEnvironment(void) {
  char text[32];
  DWORD n = GetEnvironmentVariableA("MCIPLAY_SCRIPT_MS", text, sizeof text);
  if (n == 0 || n >= sizeof text) return DEFAULT_LENGTH_MS;
  char* end = NULL;
  unsigned long value = strtoul(text, &end, 10);
  if (end == text || *end != '\0') return DEFAULT_LENGTH_MS;
  return (DWORD)value;
}

/* Appends one line to the log file named by MCIPLAY_SCRIPT_LOG, if any. */
static void Log(const char* format, ...) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("MCIPLAY_SCRIPT_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  char line[MAX_PATH + 64];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (length < 0) return;
  if (length > (int)sizeof line - 2) length = (int)sizeof line - 2;
  line[length++] = '\n';
  HANDLE log =
      CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, line, (DWORD)length, &written, NULL);
  CloseHandle(log);
}

/* Where the piece has got to, in milliseconds. */
static DWORD Position(void) {
  if (!g_device.playing) return g_device.stopped_at;
  ULONGLONG elapsed = GetTickCount64() - g_device.start;
  return elapsed >= g_device.length_ms ? g_device.length_ms : (DWORD)elapsed;
}

static BOOL StillPlaying(void) {
  return g_device.playing && Position() < g_device.length_ms;
}

static LRESULT OpenDevice(DWORD flags, const MCI_OPEN_PARMSW* parms) {
  if (parms == NULL) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_OPEN_ELEMENT) || parms->lpstrElementName == NULL ||
      parms->lpstrElementName[0] == L'\0')
    return MCIERR_FILENAME_REQUIRED;
  char element[MAX_PATH];
  if (WideCharToMultiByte(CP_ACP, 0, parms->lpstrElementName, -1, element,
                          sizeof element, NULL, NULL) == 0)
    element[0] = '\0';
  Log("open %s", element);
  g_device.open = TRUE;
  g_device.playing = FALSE;
  g_device.stopped_at = 0;
  g_device.length_ms = LengthFromEnvironment();
  g_device.time_format = MCI_FORMAT_MILLISECONDS;
  return 0;
}

static LRESULT Status(DWORD flags, MCI_STATUS_PARMS* parms) {
  if (parms == NULL) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_STATUS_ITEM)) return MCIERR_MISSING_PARAMETER;
  switch (parms->dwItem) {
    case MCI_STATUS_MODE: {
      WORD mode = StillPlaying() ? MCI_MODE_PLAY : MCI_MODE_STOP;
      Log("status mode");
      /* Returned as a resource, so that the service answers the mode's
       * word ("playing", "stopped") rather than its number. */
      parms->dwReturn = MAKEMCIRESOURCE(mode, mode);
      return MCI_RESOURCE_RETURNED;
    }
    case MCI_STATUS_POSITION:
      Log("status position");
      parms->dwReturn = Position();
      return 0;
    case MCI_STATUS_LENGTH:
      Log("status length");
      parms->dwReturn = g_device.length_ms;
      return 0;
    case MCI_STATUS_READY:
      parms->dwReturn = MAKEMCIRESOURCE(TRUE, MCI_TRUE);
      return MCI_RESOURCE_RETURNED;
    case MCI_STATUS_TIME_FORMAT: {
      WORD format = (WORD)g_device.time_format;
      parms->dwReturn =
          MAKEMCIRESOURCE(format, MCI_FORMAT_RETURN_BASE + format);
      return MCI_RESOURCE_RETURNED;
    }
    default:
      Log("status item %lu", (unsigned long)parms->dwItem);
      return MCIERR_UNSUPPORTED_FUNCTION;
  }
}

static LRESULT Set(DWORD flags, const MCI_SET_PARMS* parms) {
  if (parms == NULL) return MCIERR_NULL_PARAMETER_BLOCK;
  if (!(flags & MCI_SET_TIME_FORMAT)) return MCIERR_UNSUPPORTED_FUNCTION;
  Log("set time format %lu", (unsigned long)parms->dwTimeFormat);
  /* Positions are kept in milliseconds only. */
  if (parms->dwTimeFormat != MCI_FORMAT_MILLISECONDS)
    return MCIERR_BAD_TIME_FORMAT;
  g_device.time_format = parms->dwTimeFormat;
  return 0;
}

static LRESULT Play(DWORD flags) {
  Log("play");
  g_device.playing = TRUE;
  g_device.start = GetTickCount64();
  if (flags & MCI_WAIT) {
    while (StillPlaying()) Sleep(10);
  }
  return 0;
}

static LRESULT Stop(void) {
  Log("stop");
  g_device.stopped_at = Position();
  g_device.playing = FALSE;
  return 0;
}

static LRESULT CloseDevice(void) {
  Log("close");
  g_device.open = FALSE;
  g_device.playing = FALSE;
  return 0;
}

__declspec(dllexport) LRESULT CALLBACK
    DriverProc(DWORD_PTR driver_id, HDRVR driver, UINT message, LPARAM param1,
               LPARAM param2) {
  const DWORD flags = (DWORD)param1;
  switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE: return 1;
    case DRV_OPEN: {
      /* The service opens the driver once bare, then once for the device
       * with the open parameters, where it learns which command table and
       * device type to use. */
      MCI_OPEN_DRIVER_PARMS* device = (MCI_OPEN_DRIVER_PARMS*)param2;
      if (device == NULL) return BARE_DRIVER_ID;
      device->wCustomCommandTable = MCI_NO_COMMAND_TABLE;
      device->wType = MCI_DEVTYPE_SEQUENCER;
      return DEVICE_DRIVER_ID;
    }
    case DRV_CLOSE: return 1;
    case DRV_QUERYCONFIGURE: return 0;
    case MCI_OPEN_DRIVER:
      return OpenDevice(flags, (const MCI_OPEN_PARMSW*)param2);
    case MCI_CLOSE_DRIVER: return CloseDevice();
  }

  if (message >= DRV_MCI_FIRST && message <= DRV_MCI_LAST) {
    if (!g_device.open) return MCIERR_DEVICE_NOT_READY;
    switch (message) {
      case MCI_PLAY: return Play(flags);
      case MCI_STOP: return Stop();
      case MCI_STATUS: return Status(flags, (MCI_STATUS_PARMS*)param2);
      case MCI_SET: return Set(flags, (const MCI_SET_PARMS*)param2);
      default: Log("message %#x", message); return MCIERR_UNRECOGNIZED_COMMAND;
    }
  }
  return DefDriverProc(driver_id, driver, message, param1, param2);
}
