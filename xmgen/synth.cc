#include "xmgen/synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace xmgen {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kPeak = 32000.0;

// A small deterministic noise source, so every build makes the same file.
class Noise {
 public:
  explicit Noise(unsigned seed) : state_(seed * 2654435761u + 1u) {}
  double Next() {  // -1 .. 1
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  std::uint32_t state_;
};

Sample Make(const char* name, const std::vector<double>& wave) {
  double peak = 1e-9;
  for (double v : wave) peak = std::max(peak, std::fabs(v));
  Sample s;
  s.name = name;
  s.relative_note = 24;
  s.pcm.reserve(wave.size());
  for (double v : wave)
    s.pcm.push_back(static_cast<std::int16_t>(std::lround(v / peak * kPeak)));
  return s;
}

}  // namespace

Sample Tone(const char* name, const std::vector<double>& harmonics,
            bool detune) {
  // With detuning the loop holds 128 cycles of the tone and 129 of its
  // sharper copy (about 13 cents), so both loop seamlessly.
  const int cycles = detune ? 128 : 1;
  const int length = kPeriod * cycles;
  std::vector<double> wave(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) {
    double t = static_cast<double>(i) / length;
    double v = 0;
    for (std::size_t k = 0; k < harmonics.size(); ++k) {
      double h = static_cast<double>(k + 1);
      v += harmonics[k] * std::sin(2 * kPi * h * cycles * t);
      if (detune) v += harmonics[k] * std::sin(2 * kPi * h * (cycles + 1) * t);
    }
    wave[static_cast<std::size_t>(i)] = v;
  }
  Sample s = Make(name, wave);
  s.loop = Loop::kForward;
  s.loop_start = 0;
  s.loop_length = static_cast<std::uint32_t>(length);
  return s;
}

Sample Pluck(const char* name, double seconds, unsigned seed) {
  // Karplus-Strong: a burst of noise circulating in a delay line of one
  // period, softened a little on every pass.
  const std::size_t length = static_cast<std::size_t>(seconds * kRate);
  std::vector<double> line(kPeriod);
  Noise noise(seed);
  for (double& v : line) v = noise.Next();
  std::vector<double> wave(length);
  std::size_t at = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::size_t next = (at + 1) % kPeriod;
    double v = line[at];
    line[at] = 0.4985 * (line[at] + line[next]);
    wave[i] = v;
    at = next;
  }
  // A short fade at the end, so it never stops with a click.
  const std::size_t fade = std::min<std::size_t>(length, 2000);
  for (std::size_t i = 0; i < fade; ++i)
    wave[length - 1 - i] *= static_cast<double>(i) / fade;
  return Make(name, wave);
}

Sample Kick() {
  const int length = kRate * 3 / 10;
  std::vector<double> wave(static_cast<std::size_t>(length));
  double phase = 0;
  for (int i = 0; i < length; ++i) {
    double t = static_cast<double>(i) / kRate;
    double freq = 45.0 + 110.0 * std::exp(-t * 30.0);
    phase += 2 * kPi * freq / kRate;
    double attack = std::min(1.0, t * 2000.0);
    wave[static_cast<std::size_t>(i)] =
        attack * std::sin(phase) * std::exp(-t * 9.0);
  }
  return Make("kick", wave);
}

Sample Snare() {
  const int length = kRate / 4;
  std::vector<double> wave(static_cast<std::size_t>(length));
  Noise noise(7);
  double low = 0;
  for (int i = 0; i < length; ++i) {
    double t = static_cast<double>(i) / kRate;
    double n = noise.Next();
    low += 0.35 * (n - low);  // take the harshest top off the noise
    double tone = std::sin(2 * kPi * 185.0 * t) * std::exp(-t * 30.0);
    wave[static_cast<std::size_t>(i)] =
        0.8 * low * std::exp(-t * 18.0) + 0.6 * tone;
  }
  return Make("snare", wave);
}

Sample HiHat() {
  const int length = kRate / 12;
  std::vector<double> wave(static_cast<std::size_t>(length));
  Noise noise(11);
  double previous = 0;
  for (int i = 0; i < length; ++i) {
    double t = static_cast<double>(i) / kRate;
    double n = noise.Next();
    double high = n - previous;  // only the top of the noise
    previous = n;
    wave[static_cast<std::size_t>(i)] = high * std::exp(-t * 60.0);
  }
  Sample s = Make("hat", wave);
  s.volume = 40;
  return s;
}

}  // namespace xmgen
