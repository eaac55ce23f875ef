// The reference for the player's cost: renders a module with libopenmpt as
// fast as it can, at the player's rate and format (48 kHz stereo float,
// 10 ms at a time),
// and prints the CPU time it took per second of music.
//
//   decode_cost FILE [REPEATS]
//
// Output, one line: "<file> <music seconds> <cpu ms per music second>".
#include <sys/resource.h>
#include <libopenmpt/libopenmpt.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
    return 2;
  }
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)),
                         std::istreambuf_iterator<char>());
  if (data.empty()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  try {
    constexpr int kRate = 48000;
    constexpr std::size_t kFrames = 480;
    std::vector<float> buffer(kFrames * 2);
    double music = 0;
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
      openmpt::module mod(data.data(), data.size());
      double start = CpuSeconds();
      std::size_t frames = 0;
      for (;;) {
        std::size_t n =
            mod.read_interleaved_stereo(kRate, kFrames, buffer.data());
        if (n == 0) break;
        frames += n;
      }
      double cpu = CpuSeconds() - start;
      music = static_cast<double>(frames) / kRate;
      if (cpu < best) best = cpu;
    }
    std::printf("%s %.3f %.3f\n", argv[1], music,
                music > 0 ? best * 1000.0 / music : 0.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
