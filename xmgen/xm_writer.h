// A small writer for Extended Module (XM) files: the bundled piece is
// composed with it at build time, and the tests make their fixtures with it.
#ifndef MCIPLAY_XMGEN_XM_WRITER_H
#define MCIPLAY_XMGEN_XM_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace xmgen {

// Note numbers: 1 is C-0, 49 is C-4; 97 releases the note (key off).
constexpr std::uint8_t kKeyOff = 97;
constexpr std::uint8_t NoteNumber(int octave, int semitone) {
  return static_cast<std::uint8_t>(1 + octave * 12 + semitone);
}

// One cell of a pattern. A zero field means "nothing"; the volume column
// holds 0x10..0x50 for volumes 0..64.
struct Cell {
  std::uint8_t note = 0;
  std::uint8_t instrument = 0;
  std::uint8_t volume = 0;
  std::uint8_t effect = 0;
  std::uint8_t param = 0;
};

struct Pattern {
  Pattern(int rows, int channels)
      : rows(rows),
        channels(channels),
        cells(static_cast<std::size_t>(rows * channels)) {}
  Cell& At(int row, int channel) {
    return cells[static_cast<std::size_t>(row * channels + channel)];
  }
  int rows;
  int channels;
  std::vector<Cell> cells;
};

enum class Loop : std::uint8_t { kNone = 0, kForward = 1, kPingPong = 2 };

// A 16-bit sample. At note C-4 with relative_note 0 and finetune 0 it plays
// at 8363 samples per second; every 12 of relative_note double that.
struct Sample {
  std::string name;
  std::vector<std::int16_t> pcm;
  Loop loop = Loop::kNone;
  std::uint32_t loop_start = 0;   // in samples
  std::uint32_t loop_length = 0;  // in samples
  std::uint8_t volume = 64;
  std::int8_t finetune = 0;
  std::uint8_t panning = 128;
  std::int8_t relative_note = 0;
};

// An envelope of up to 12 points (tick, value 0..64).
struct Envelope {
  struct Point {
    std::uint16_t tick;
    std::uint16_t value;
  };
  std::vector<Point> points;
  int sustain = -1;  // index of the sustain point, or -1
};

struct Instrument {
  std::string name;
  std::vector<Sample> samples;  // every note plays the first one
  Envelope volume_envelope;     // empty: no envelope
  std::uint16_t fadeout = 0;
};

struct Module {
  std::string name;
  int channels = 4;
  int speed = 6;    // ticks per row
  int tempo = 125;  // the BPM of the format: a tick lasts 2.5 / tempo s
  std::uint16_t restart = 0;
  std::vector<std::uint8_t> orders;
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;
};

// The module as the bytes of an XM file (version 1.04, linear frequencies).
std::vector<std::uint8_t> WriteXm(const Module& module);

// Writes WriteXm(module) to `path`. Returns false if the file cannot be
// written completely.
bool SaveXm(const Module& module, const std::string& path);

}  // namespace xmgen

#endif  // MCIPLAY_XMGEN_XM_WRITER_H
