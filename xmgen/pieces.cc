#include "xmgen/pieces.h"

#include <algorithm>
#include <array>

#include "xmgen/synth.h"

namespace xmgen {
namespace {

constexpr int kRowsPerBar = 16;
constexpr int kBarsPerPattern = 4;
constexpr int kRows = kRowsPerBar * kBarsPerPattern;
constexpr int kChannels = 8;

// Channels of the bundled piece.
enum Channel { kPad0, kPad1, kPad2, kBass, kArp, kLead, kDrums, kHats };
// Instruments, numbered from 1 as the pattern cells name them.
enum InstrumentNumber {
  kPadIns = 1,
  kBassIns,
  kPluckIns,
  kLeadIns,
  kKickIns,
  kSnareIns,
  kHatIns
};

std::uint8_t Vol(int v) { return static_cast<std::uint8_t>(0x10 + v); }

// A chord: its root (semitone above C) and its quality.
struct Chord {
  int root;
  bool minor;
  int Third() const { return root + (minor ? 3 : 4); }
  int Fifth() const { return root + 7; }
};

constexpr Chord kAm{9, true}, kF{5, false}, kC{0, false}, kG{7, false},
    kEm{4, true};

// A note of a melody line: row within the bar, octave, semitone; a
// semitone of -1 is a key off.
struct MelodyNote {
  int row;
  int octave;
  int semitone;
};
using Bar = std::vector<MelodyNote>;

// Pitch as a note number, carrying semitones past B into the next octave.
std::uint8_t Pitch(int octave, int semitone) {
  return NoteNumber(octave + semitone / 12, semitone % 12);
}

void Put(Pattern& p, int row, int channel, std::uint8_t note, int ins,
         int volume) {
  Cell& c = p.At(row, channel);
  c.note = note;
  c.instrument = static_cast<std::uint8_t>(ins);
  c.volume = Vol(volume);
}

struct Section {
  explicit Section(const std::array<Chord, 4>& c) : chords(c) {}
  std::array<Chord, 4> chords;
  bool bass = false;
  bool drums = false;
  bool hats = false;
  int arp_volume = 0;  // 0: no arpeggio
  int pad_volume = 36;
  std::array<Bar, 4> melody;
  int lead_volume = 44;
};

void AddPad(Pattern& p, const Section& s) {
  for (int bar = 0; bar < kBarsPerPattern; ++bar) {
    const Chord& c = s.chords[static_cast<std::size_t>(bar)];
    const int row = bar * kRowsPerBar;
    Put(p, row, kPad0, Pitch(3, c.root), kPadIns, s.pad_volume);
    Put(p, row, kPad1, Pitch(3, c.Third()), kPadIns, s.pad_volume);
    Put(p, row, kPad2, Pitch(3, c.Fifth()), kPadIns, s.pad_volume);
  }
}

void AddBass(Pattern& p, const Section& s) {
  static constexpr int kRowsOfBar[] = {0, 3, 6, 8, 11, 14};
  for (int bar = 0; bar < kBarsPerPattern; ++bar) {
    const Chord& c = s.chords[static_cast<std::size_t>(bar)];
    for (int r : kRowsOfBar) {
      int semitone = r == 14 ? c.Fifth() - 12 : c.root;
      int octave = semitone < 0 ? 1 : 2;
      semitone = (semitone + 12) % 12;
      Put(p, bar * kRowsPerBar + r, kBass, Pitch(octave, semitone), kBassIns,
          r == 0 || r == 8 ? 52 : 40);
    }
  }
}

void AddArpeggio(Pattern& p, const Section& s) {
  for (int bar = 0; bar < kBarsPerPattern; ++bar) {
    const Chord& c = s.chords[static_cast<std::size_t>(bar)];
    const int tones[] = {c.root,         c.Third(),   c.Fifth(), c.root + 12,
                         c.Fifth() + 12, c.root + 12, c.Fifth(), c.Third()};
    for (int r = 0; r < kRowsPerBar; ++r) {
      int v = s.arp_volume - (r % 4 == 0 ? 0 : 8);
      Put(p, bar * kRowsPerBar + r, kArp, Pitch(4, tones[r % 8]), kPluckIns, v);
    }
  }
}

void AddDrums(Pattern& p, const Section& s) {
  for (int bar = 0; bar < kBarsPerPattern; ++bar) {
    const int base = bar * kRowsPerBar;
    if (s.drums) {
      Put(p, base + 0, kDrums, NoteNumber(4, 0), kKickIns, 60);
      Put(p, base + 4, kDrums, NoteNumber(4, 0), kSnareIns, 44);
      Put(p, base + 8, kDrums, NoteNumber(4, 0), kKickIns, 56);
      if (bar % 2 == 1)
        Put(p, base + 10, kDrums, NoteNumber(4, 0), kKickIns, 44);
      Put(p, base + 12, kDrums, NoteNumber(4, 0), kSnareIns, 44);
    }
    if (s.hats) {
      for (int r = 2; r < kRowsPerBar; r += 4)
        Put(p, base + r, kHats, NoteNumber(4, 0), kHatIns, 40);
      if (s.drums)
        for (int r = 0; r < kRowsPerBar; r += 4)
          Put(p, base + r, kHats, NoteNumber(4, 0), kHatIns, 22);
    }
  }
}

void AddMelody(Pattern& p, const Section& s) {
  for (int bar = 0; bar < kBarsPerPattern; ++bar) {
    for (const MelodyNote& n : s.melody[static_cast<std::size_t>(bar)]) {
      Cell& c = p.At(bar * kRowsPerBar + n.row, kLead);
      if (n.semitone < 0) {
        c.note = kKeyOff;
      } else {
        c.note = Pitch(n.octave, n.semitone);
        c.instrument = kLeadIns;
        c.volume = Vol(s.lead_volume);
      }
    }
  }
}

Pattern MakePattern(const Section& s) {
  Pattern p(kRows, kChannels);
  AddPad(p, s);
  if (s.bass) AddBass(p, s);
  if (s.arp_volume > 0) AddArpeggio(p, s);
  AddDrums(p, s);
  AddMelody(p, s);
  return p;
}

// Spreads the channels across the stereo field (effect 8: set panning).
void SetPanning(Pattern& p) {
  static constexpr std::uint8_t kPan[kChannels] = {0x50, 0x80, 0xB0, 0x80,
                                                   0xB8, 0x68, 0x80, 0x98};
  for (int ch = 0; ch < kChannels; ++ch) {
    p.At(0, ch).effect = 0x08;
    p.At(0, ch).param = kPan[ch];
  }
}

// The melodies, one bar of four beats (16 rows) at a time. Semitones above
// C of the octave given; 12 and more reach into the next octave.
constexpr int E = 4, F = 5, G = 7, A = 9, B = 11, C = 12, D = 14;
constexpr int kOff = -1;

const std::array<Bar, 4> kMelodyA = {{
    {{0, 4, E + 12}, {6, 5, 0}, {8, 5, 2}, {12, 5, 4}},
    {{0, 5, F}, {4, 5, E}, {8, 5, 0}, {12, 4, A}},
    {{0, 4, G}, {4, 4, C}, {8, 4, E + 12}, {12, 4, G + 12}},
    {{0, 4, D}, {8, 4, B}, {12, 4, D}},
}};

const std::array<Bar, 4> kMelodyB = {{
    {{0, 5, A}, {4, 5, G}, {6, 5, F}, {8, 5, E}, {12, 4, C}},
    {{0, 4, D}, {4, 4, B}, {8, 4, G}, {12, 4, B}, {14, 4, D}},
    {{0, 5, E}, {8, 5, G}, {12, 5, B}},
    {{0, 5, A}, {12, 5, E}},
}};

const std::array<Bar, 4> kMelodyEnd = {{
    {{0, 5, A}, {4, 5, G}, {6, 5, F}, {8, 5, E}, {12, 4, C}},
    {{0, 4, D}, {4, 4, B}, {8, 4, G}, {12, 4, B}, {14, 4, D}},
    {{0, 5, E}, {8, 4, B}, {12, 4, G}},
    {{0, 4, A}, {14, 0, kOff}},
}};

Instrument MakeInstrument(const char* name, Sample sample, Envelope env,
                          std::uint16_t fadeout) {
  Instrument ins;
  ins.name = name;
  ins.samples.push_back(std::move(sample));
  ins.volume_envelope = std::move(env);
  ins.fadeout = fadeout;
  return ins;
}

std::vector<Instrument> Instruments() {
  std::vector<Instrument> list;
  list.push_back(
      MakeInstrument("pad", Tone("pad", {1, 0.5, 0.25, 0.12, 0.06}, true),
                     Envelope{{{0, 0}, {24, 56}, {60, 44}}, 2}, 340));
  list.push_back(MakeInstrument(
      "bass", Tone("bass", {1, 0.6, 0.3, 0.15, 0.08}, false),
      Envelope{{{0, 64}, {4, 50}, {30, 28}, {90, 0}}, -1}, 1000));
  list.push_back(MakeInstrument("pluck", Pluck("pluck", 0.8, 3), {}, 0));
  list.push_back(
      MakeInstrument("lead", Tone("lead", {1, 0.05, 0.25, 0.02, 0.1}, true),
                     Envelope{{{0, 0}, {2, 64}, {10, 46}, {40, 38}}, 3}, 800));
  list.push_back(MakeInstrument("kick", Kick(), {}, 0));
  list.push_back(MakeInstrument("snare", Snare(), {}, 0));
  list.push_back(MakeInstrument("hat", HiHat(), {}, 0));
  return list;
}

}  // namespace

Module ComposePiece() {
  Module m;
  m.name = "no-sn";
  m.channels = kChannels;
  m.speed = 6;
  m.tempo = 128;  // 4 rows a beat, 128 beats a minute
  m.instruments = Instruments();

  const std::array<Chord, 4> verse = {kAm, kF, kC, kG};
  const std::array<Chord, 4> bridge = {kF, kG, kEm, kAm};

  Section intro{verse};
  intro.arp_volume = 30;
  intro.pad_volume = 30;
  Section build{verse};
  build.bass = build.hats = true;
  build.arp_volume = 32;
  Section verse_a{verse};
  verse_a.bass = verse_a.drums = verse_a.hats = true;
  verse_a.arp_volume = 26;
  verse_a.melody = kMelodyA;
  Section verse_b{bridge};
  verse_b.bass = verse_b.drums = verse_b.hats = true;
  verse_b.arp_volume = 26;
  verse_b.melody = kMelodyB;
  Section breakdown{verse};
  breakdown.arp_volume = 34;
  breakdown.hats = true;
  breakdown.melody = kMelodyA;
  breakdown.lead_volume = 30;
  Section last{bridge};
  last.bass = last.drums = last.hats = true;
  last.arp_volume = 26;
  last.melody = kMelodyEnd;

  m.patterns = {MakePattern(intro),     MakePattern(build),
                MakePattern(verse_a),   MakePattern(verse_b),
                MakePattern(breakdown), MakePattern(last)};
  SetPanning(m.patterns[0]);

  // The ending: the last chord held, then let go to fade away.
  Pattern ending(kRows, kChannels);
  Put(ending, 0, kPad0, Pitch(3, kAm.root), kPadIns, 40);
  Put(ending, 0, kPad1, Pitch(3, kAm.Third()), kPadIns, 40);
  Put(ending, 0, kPad2, Pitch(3, kAm.Fifth()), kPadIns, 40);
  Put(ending, 0, kBass, Pitch(2, kAm.root), kBassIns, 52);
  Put(ending, 0, kDrums, NoteNumber(4, 0), kKickIns, 56);
  Put(ending, 0, kLead, Pitch(4, A), kLeadIns, 36);
  const int slow[] = {0, 3, 7, 12, 18};
  const int tones[] = {kAm.root, kAm.Third(), kAm.Fifth(), kAm.root + 12,
                       kAm.Third() + 12};
  for (int i = 0; i < 5; ++i)
    Put(ending, slow[i], kArp, Pitch(4, tones[i]), kPluckIns, 30 - 3 * i);
  for (int ch : {kPad0, kPad1, kPad2, kLead}) ending.At(32, ch).note = kKeyOff;
  m.patterns.push_back(std::move(ending));

  m.orders = {0, 1, 2, 3, 2, 5, 4, 6};
  return m;
}

Module TimedPiece(int length_ms) {
  const int rows = std::max(1, length_ms / 10);
  Module m;
  m.name = "timed";
  m.channels = 1;
  m.speed = 1;
  m.tempo = 250;  // one tick, and so one row, every 10 ms
  Sample tone = Tone("tone", {1, 0.2}, false);
  tone.volume = 24;
  m.instruments.push_back(
      MakeInstrument("tone", tone, Envelope{{{0, 64}, {20, 0}}, -1}, 0));
  int left = rows;
  int row_of_piece = 0;
  while (left > 0) {
    const int n = std::min(left, 256);
    Pattern p(n, 1);
    for (int r = 0; r < n; ++r, ++row_of_piece)
      if (row_of_piece % 50 == 0) Put(p, r, 0, NoteNumber(4, 9), 1, 40);
    m.orders.push_back(static_cast<std::uint8_t>(m.patterns.size()));
    m.patterns.push_back(std::move(p));
    left -= n;
  }
  return m;
}

Module DensePiece(int channels, int seconds) {
  Module m;
  m.name = "dense";
  m.channels = std::clamp(channels, 1, 64);
  m.speed = 6;
  m.tempo = 125;  // a row lasts 120 ms
  Instrument tone;
  tone.name = "tone";
  tone.samples.push_back(Tone("tone", {1, 0.5, 0.3, 0.2}, true));
  tone.samples.back().volume = 16;
  m.instruments.push_back(tone);

  static const int kChord[] = {0, 4, 7, 11, 14, 17, 21, 24};
  int rows_left = std::max(1, seconds) * 1000 / 120;
  int row_of_piece = 0;
  while (rows_left > 0) {
    const int n = std::min(rows_left, 64);
    Pattern p(n, m.channels);
    for (int r = 0; r < n; ++r, ++row_of_piece) {
      if (row_of_piece % 8 != 0) continue;
      const int root = (row_of_piece / 8) % 5;
      for (int c = 0; c < m.channels; ++c) {
        Cell& cell = p.At(r, c);
        cell.note = NoteNumber(2 + c / 8 % 4, (root * 2 + kChord[c % 8]) % 12);
        cell.instrument = 1;
      }
    }
    m.orders.push_back(static_cast<std::uint8_t>(m.patterns.size()));
    m.patterns.push_back(std::move(p));
    rows_left -= n;
  }
  return m;
}

Module EmptyPiece() {
  Module m;
  m.name = "empty";
  m.channels = 2;
  return m;
}

}  // namespace xmgen
