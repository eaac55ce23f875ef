/*
 * Sends each argument to mciSendStringA, in order, and prints one line per
 * command: the result number, a blank, and the reply text. The Wine tests
 * drive a registered driver through winmm's own MCI with it.
 */
#include <windows.h>
#include <mmsystem.h>

#include <stdio.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char reply[81] = "";
    MCIERROR result = mciSendStringA(argv[i], reply, sizeof reply, NULL);
    printf("%lu %s\n", (unsigned long)result, reply);
  }
  return 0;
}
