// Writes a dense module for the benchmarks: CHANNELS channels that all play
// for SECONDS, chords of looped tones changing every few rows, so the
// decoder mixes every channel all the time.
//
//   make_fixture OUT CHANNELS SECONDS
#include <cstdio>
#include <cstdlib>

#include "xmgen/synth.h"
#include "xmgen/xm_writer.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OUT CHANNELS SECONDS\n", argv[0]);
    return 2;
  }
  const int channels = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[3]);
  if (channels < 1 || channels > 64 || seconds < 1) return 2;

  xmgen::Module m;
  m.name = "dense";
  m.channels = channels;
  m.speed = 6;
  m.tempo = 125;  // a row lasts 120 ms
  xmgen::Instrument tone;
  tone.name = "tone";
  tone.samples.push_back(xmgen::Tone("tone", {1, 0.5, 0.3, 0.2}, true));
  tone.samples.back().volume = 16;
  m.instruments.push_back(tone);

  static const int kChord[] = {0, 4, 7, 11, 14, 17, 21, 24};
  int rows_left = seconds * 1000 / 120;
  int row_of_piece = 0;
  while (rows_left > 0) {
    const int n = rows_left < 64 ? rows_left : 64;
    xmgen::Pattern p(n, channels);
    for (int r = 0; r < n; ++r, ++row_of_piece) {
      if (row_of_piece % 8 != 0) continue;
      const int root = (row_of_piece / 8) % 5;
      for (int c = 0; c < channels; ++c) {
        xmgen::Cell& cell = p.At(r, c);
        cell.note = xmgen::NoteNumber(2 + c / 8 % 4, (root * 2 + kChord[c % 8]) % 12);
        cell.instrument = 1;
      }
    }
    m.orders.push_back(static_cast<std::uint8_t>(m.patterns.size()));
    m.patterns.push_back(std::move(p));
    rows_left -= n;
  }
  return xmgen::SaveXm(m, argv[1]) ? 0 : 1;
}
