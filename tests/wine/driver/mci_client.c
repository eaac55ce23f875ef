/*
 * An MCI client such as other programs are: it drives the registered
 * pvl_mci driver through winmm's command strings, with a message-only
 * window that receives MM_MCINOTIFY, and prints one line per check, "ok
 * NAME" or "FAIL NAME: what". The Wine tests run it where the package is
 * registered, with the silent output.
 *
 *   mci_client checks PIECE   the replies, the notify sequences, two devices
 *                             at once, a module of another format opened
 *                             without a type; PIECE is a 2 s piece
 *   mci_client cycles PIECE N N open/close cycles with pvl_mci as the only
 *                             device: "cycles N committed_kb C
 *                             working_set_kb W ms_per_cycle T", the growth
 *                             after the first cycle (which loads the driver)
 *
 * The exit code is the number of failed checks (at most 100).
 */
#define PSAPI_VERSION 2
#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxNotices = 16 };

static HWND g_window;
static WPARAM g_codes[kMaxNotices];
static LPARAM g_ids[kMaxNotices];
static int g_count;
static int g_failures;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w,
                                   LPARAM l) {
  if (message == MM_MCINOTIFY) {
    if (g_count < kMaxNotices) {
      g_codes[g_count] = w;
      g_ids[g_count] = l;
    }
    ++g_count;
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

static void Check(const char* name, int passed, const char* format, ...) {
  if (passed) {
    printf("ok %s\n", name);
  } else {
    va_list args;
    va_start(args, format);
    printf("FAIL %s: ", name);
    vprintf(format, args);
    printf("\n");
    va_end(args);
    ++g_failures;
  }
  fflush(stdout);
}

/* Sends `command` with the window for notifications; the reply in `reply`
 * (81 characters, as a program's buffer). */
static MCIERROR Send(const char* command, char* reply) {
  char ignored[81];
  if (reply == NULL) reply = ignored;
  reply[0] = '\0';
  return mciSendStringA(command, reply, 81, g_window);
}

static void SendOk(const char* command) {
  const MCIERROR e = Send(command, NULL);
  if (e != 0) Check(command, 0, "error %lu", (unsigned long)e);
}

/* Delivers the window's messages for `ms` milliseconds, or until `want`
 * notifications have come. */
static void Pump(DWORD ms, int want) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    const DWORD spent = GetTickCount() - start;
    if (g_count >= want || spent >= ms) return;
    MsgWaitForMultipleObjects(0, NULL, FALSE, ms - spent, QS_ALLINPUT);
  }
}

static const char* CodeName(WPARAM code) {
  switch (code) {
    case MCI_NOTIFY_SUCCESSFUL: return "successful";
    case MCI_NOTIFY_SUPERSEDED: return "superseded";
    case MCI_NOTIFY_ABORTED: return "aborted";
    case MCI_NOTIFY_FAILURE: return "failure";
  }
  return "?";
}

/* Waits up to 5 s for the notifications `codes` (n of them, 0-ended list)
 * and 300 ms more for any that should not come; each must name `device`. */
static void ExpectNotices(const char* name, MCIDEVICEID device,
                          const WPARAM* codes) {
  int n = 0;
  while (codes[n] != 0) ++n;
  Pump(5000, n);
  Pump(300, n + 1);
  char seen[200] = "";
  int same = g_count == n;
  for (int i = 0; i < g_count && i < kMaxNotices; ++i) {
    snprintf(seen + strlen(seen), sizeof seen - strlen(seen), " %s(%ld)",
             CodeName(g_codes[i]), (long)g_ids[i]);
    if (i < n && (g_codes[i] != codes[i] || (MCIDEVICEID)g_ids[i] != device))
      same = 0;
  }
  Check(name, same, "device %u got%s", device, g_count ? seen : " nothing");
  g_count = 0;
}

#define S MCI_NOTIFY_SUCCESSFUL
#define SUP MCI_NOTIFY_SUPERSEDED
#define AB MCI_NOTIFY_ABORTED

/* Each sequence: commands sent one after the other on the device "m",
 * then the notifications that must come, in order. */
struct Sequence {
  const char* name;
  const char* commands[4];
  WPARAM codes[4];
};

static const struct Sequence kSequences[] = {
    {"a play ends by itself", {"play m from 1700 notify"}, {S}},
    {"a play with notify supersedes a play",
     {"play m from 0 notify", "play m from 1700 notify"},
     {SUP, S}},
    {"stop aborts a play", {"play m from 0 notify", "stop m"}, {AB}},
    {"stop with notify aborts, then succeeds",
     {"play m from 0 notify", "stop m notify"},
     {AB, S}},
    {"seek aborts a play",
     {"play m from 0 notify", "seek m to start notify"},
     {AB, S}},
    {"a play without notify aborts a play",
     {"play m from 0 notify", "play m from 1700"},
     {AB}},
    {"status with notify supersedes a play",
     {"play m from 0 notify", "status m mode notify", "stop m"},
     {SUP, S}},
    {"pause and resume keep the play's notification",
     {"play m from 1500 notify", "pause m", "resume m"},
     {S}},
    {"a failing command posts nothing and supersedes nothing",
     {"play m from 0 notify", "play m from 99999 notify", "stop m"},
     {AB}},
    {"commands that complete at once succeed",
     {"set m time format ms notify", "capability m can play notify",
      "info m product notify"},
     {S, S, S}},
    {"play wait returns at the end, its notification posted",
     {"play m from 1800 wait notify"},
     {S}},
};

static void CheckReplies(const char* piece) {
  static const struct {
    const char* command;
    const char* reply;
  } kReplies[] = {
      {"capability m can play", "true"},
      {"capability m can record", "false"},
      {"capability m can save", "false"},
      {"capability m can eject", "false"},
      {"capability m device type", "other"},
      {"capability m has audio", "true"},
      {"capability m has video", "false"},
      {"capability m uses files", "true"},
      {"capability m compound device", "true"},
      {"info m product", "pvl_mci module player"},
      {"status m number of tracks", "1"},
      {"status m current track", "1"},
      {"status m position start", "0"},
      {"status m length track 1", "2000"},
      {"status m length", "2000"},
  };
  char reply[81];
  for (size_t i = 0; i < sizeof kReplies / sizeof *kReplies; ++i) {
    const MCIERROR e = Send(kReplies[i].command, reply);
    Check(kReplies[i].command, e == 0 && strcmp(reply, kReplies[i].reply) == 0,
          "error %lu, reply \"%s\"", (unsigned long)e, reply);
  }
  /* Wine's core table has no words for these two: asked as messages, as a
   * program using mciSendCommand does. */
  const MCIDEVICEID m = mciGetDeviceIDA("m");
  MCI_STATUS_PARMS status = {0};
  status.dwItem = MCI_STATUS_MEDIA_PRESENT;
  MCIERROR e =
      mciSendCommandA(m, MCI_STATUS, MCI_STATUS_ITEM, (DWORD_PTR)&status);
  Check("status media present", e == 0 && status.dwReturn == TRUE,
        "error %lu, return %lu", (unsigned long)e,
        (unsigned long)status.dwReturn);
  char file[MAX_PATH] = "";
  MCI_INFO_PARMSA info = {0};
  info.lpstrReturn = file;
  info.dwRetSize = sizeof file;
  e = mciSendCommandA(m, MCI_INFO, MCI_INFO_FILE, (DWORD_PTR)&info);
  /* Wine's winmm lower-cases a command string, the element's name too. */
  Check("info file", e == 0 && lstrcmpiA(file, piece) == 0,
        "error %lu, reply \"%s\"", (unsigned long)e, file);
  e = Send("capability m", reply);
  Check("capability without an item", e == MCIERR_MISSING_PARAMETER,
        "error %lu", (unsigned long)e);
  e = Send("status m position track 2", reply);
  Check("status of a second track", e == MCIERR_OUTOFRANGE, "error %lu",
        (unsigned long)e);
}

/* A ProTracker module of one pattern: a looped square wave struck once. */
static int WriteMod(const char* path) {
  unsigned char mod[1084 + 1024 + 32];
  memset(mod, 0, sizeof mod);
  memcpy(mod, "square", 6);
  unsigned char* sample = mod + 20; /* the first of 31 headers */
  memcpy(sample, "square", 6);
  sample[23] = 16; /* length in words, big-endian */
  sample[25] = 64; /* volume */
  sample[29] = 16; /* loop: from word 0, 16 words */
  mod[950] = 1;    /* one order */
  mod[951] = 127;
  memcpy(mod + 1080, "M.K.", 4);
  unsigned char* note = mod + 1084; /* row 0, channel 0: C-2, sample 1 */
  note[0] = 0x01;
  note[1] = 0xAC;
  note[2] = 0x10;
  for (int i = 0; i < 32; ++i) mod[1084 + 1024 + i] = i < 16 ? 0x60 : 0xA0;
  FILE* f = fopen(path, "wb");
  if (f == NULL) return 0;
  const int ok = fwrite(mod, sizeof mod, 1, f) == 1;
  return fclose(f) == 0 && ok;
}

static int Checks(const char* piece) {
  char command[MAX_PATH + 64];
  snprintf(command, sizeof command, "open \"%s\" type pvl_mci alias m notify",
           piece);
  MCIERROR e = Send(command, NULL);
  Check("open with notify", e == 0, "error %lu", (unsigned long)e);
  if (e != 0) return g_failures;
  const MCIDEVICEID m = mciGetDeviceIDA("m");
  const WPARAM open_codes[] = {S, 0};
  ExpectNotices("open with notify succeeds", m, open_codes);
  SendOk("set m time format ms");
  CheckReplies(piece);

  for (size_t i = 0; i < sizeof kSequences / sizeof *kSequences; ++i) {
    const struct Sequence* s = &kSequences[i];
    for (int c = 0; c < 4 && s->commands[c] != NULL; ++c) {
      e = Send(s->commands[c], NULL);
      /* The one command meant to fail. */
      if (strstr(s->commands[c], "99999") != NULL)
        Check("a play out of range fails", e == MCIERR_OUTOFRANGE, "error %lu",
              (unsigned long)e);
      else if (e != 0)
        Check(s->commands[c], 0, "error %lu", (unsigned long)e);
    }
    ExpectNotices(s->name, m, s->codes);
  }

  /* Two devices at once, each told of its own end. */
  snprintf(command, sizeof command, "open \"%s\" type pvl_mci alias n", piece);
  e = Send(command, NULL);
  Check("a second device opens beside the first", e == 0, "error %lu",
        (unsigned long)e);
  const MCIDEVICEID n = mciGetDeviceIDA("n");
  SendOk("play n from 1300 notify");
  SendOk("play m from 1700 notify");
  char mode_m[81], mode_n[81];
  Send("status m mode", mode_m);
  Send("status n mode", mode_n);
  Check("both devices play",
        strcmp(mode_m, "playing") == 0 && strcmp(mode_n, "playing") == 0,
        "m %s, n %s", mode_m, mode_n);
  Pump(5000, 2);
  Check("each device's end notifies it, the shorter run first",
        g_count == 2 && (MCIDEVICEID)g_ids[0] == m &&
            (MCIDEVICEID)g_ids[1] == n && g_codes[0] == S && g_codes[1] == S,
        "%d notifications", g_count);
  g_count = 0;
  SendOk("close n");

  /* Closing aborts the play, then succeeds. */
  SendOk("play m from 0 notify");
  e = Send("close m notify", NULL);
  const WPARAM close_codes[] = {AB, S, 0};
  ExpectNotices("close with notify aborts the play, then succeeds", m,
                close_codes);

  /* Another format, chosen by its extension (MCI Extensions). */
  if (!WriteMod("song.mod")) Check("writing song.mod", 0, "failed");
  char length[81] = "", product[81] = "";
  e = Send("open song.mod alias o", NULL);
  Check("a .mod file opens without a type", e == 0, "error %lu",
        (unsigned long)e);
  if (e == 0) {
    Send("status o length", length);
    Send("info o product", product);
    Check("it is pvl_mci's, and has a length",
          atoi(length) > 0 && strcmp(product, "pvl_mci module player") == 0,
          "length \"%s\", product \"%s\"", length, product);
    SendOk("close o");
  }
  return g_failures;
}

static int Cycles(const char* piece, int count) {
  char open[MAX_PATH + 64];
  snprintf(open, sizeof open, "open \"%s\" type pvl_mci alias c", piece);
  PROCESS_MEMORY_COUNTERS before, after;
  LARGE_INTEGER frequency, start, end;
  for (int i = 0; i <= count; ++i) {
    if (i == 1) {
      GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
      QueryPerformanceCounter(&start);
    }
    const MCIERROR e = Send(open, NULL);
    if (e != 0) {
      Check("open", 0, "cycle %d: error %lu", i, (unsigned long)e);
      return 1;
    }
    SendOk("close c");
  }
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  printf(
      "cycles %d committed_kb %lld working_set_kb %lld ms_per_cycle %.2f\n",
      count,
      ((long long)after.PagefileUsage - (long long)before.PagefileUsage) / 1024,
      ((long long)after.WorkingSetSize - (long long)before.WorkingSetSize) /
          1024,
      1000.0 * (double)(end.QuadPart - start.QuadPart) /
          (double)frequency.QuadPart / count);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: mci_client checks PIECE | cycles PIECE N\n");
    return 100;
  }
  WNDCLASSA window_class = {0};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleA(NULL);
  window_class.lpszClassName = "mci_client";
  if (!RegisterClassA(&window_class)) return 100;
  g_window = CreateWindowExA(0, "mci_client", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                             NULL, window_class.hInstance, NULL);
  if (g_window == NULL) return 100;
  int failures = strcmp(argv[1], "cycles") == 0 && argc > 3
                     ? Cycles(argv[2], atoi(argv[3]))
                     : Checks(argv[2]);
  return failures > 100 ? 100 : failures;
}
