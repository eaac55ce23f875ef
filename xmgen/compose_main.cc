// Writes the bundled piece to the file named on the command line.
#include <cstdio>

#include "xmgen/pieces.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.xm\n", argv[0]);
    return 2;
  }
  if (!xmgen::SaveXm(xmgen::ComposePiece(), argv[1])) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
