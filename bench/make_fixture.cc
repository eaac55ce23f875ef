// Writes a dense module for the benchmarks (xmgen::DensePiece): CHANNELS
// channels that all play for SECONDS.
//
//   make_fixture OUT CHANNELS SECONDS
#include <cstdio>
#include <cstdlib>

#include "xmgen/pieces.h"
#include "xmgen/xm_writer.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OUT CHANNELS SECONDS\n", argv[0]);
    return 2;
  }
  const int channels = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[3]);
  if (channels < 1 || channels > 64 || seconds < 1) return 2;
  return xmgen::SaveXm(xmgen::DensePiece(channels, seconds), argv[1]) ? 0 : 1;
}
