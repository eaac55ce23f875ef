#include "winapi/std_handles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace term {

namespace {

struct StdHandle {
  int fd;
};
StdHandle g_handles[3] = {{0}, {1}, {2}};

// -1 not yet looked at, 0 no, 1 yes.
struct Facts {
  int open = -1;
  int terminal = -1;
  int type = -1;  // a FILE_TYPE_ value
};
Facts g_facts[3];

bool Standard(int fd) { return fd >= 0 && fd <= 2; }

DWORD TypeFromStat(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FILE_TYPE_UNKNOWN;
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISDIR(st.st_mode))
    return FILE_TYPE_DISK;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

}  // namespace

HANDLE HandleOf(int fd) {
  if (!Standard(fd)) return INVALID_HANDLE_VALUE;
  if (g_facts[fd].open < 0) g_facts[fd].open = fcntl(fd, F_GETFD) >= 0;
  return g_facts[fd].open == 1 ? &g_handles[fd] : nullptr;
}

int FdOf(HANDLE handle) {
  for (StdHandle& h : g_handles) {
    if (handle == &h) return h.fd;
  }
  return -1;
}

bool IsTerminal(int fd) {
  if (!Standard(fd)) return false;
  if (g_facts[fd].terminal < 0) g_facts[fd].terminal = isatty(fd) == 1;
  return g_facts[fd].terminal == 1;
}

bool IsScreen(int fd) { return (fd == 1 || fd == 2) && IsTerminal(fd); }

DWORD FileTypeOf(int fd) {
  if (!Standard(fd)) return FILE_TYPE_UNKNOWN;
  if (g_facts[fd].type < 0) {
    const DWORD type = TypeFromStat(fd);
    // A failed look is not kept: it may be a passing fault.
    if (type == FILE_TYPE_UNKNOWN) return type;
    g_facts[fd].type = static_cast<int>(type);
  }
  return static_cast<DWORD>(g_facts[fd].type);
}

}  // namespace term
