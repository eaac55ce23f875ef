#include "harness/signal_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace audio {
namespace {

constexpr long kRate = 48000;
constexpr long kBlock = 48;            // 1 ms: the envelope's step
constexpr long kWindow = kRate / 100;  // 10 ms: the step of the gap search
// Sound, for the ends of a piece: about -80 dB.
constexpr float kQuiet = 1e-4f;

long Frames(const Samples& s) { return static_cast<long>(s.size() / 2); }

// The loudness of each 1 ms block: RMS over both channels.
std::vector<double> Envelope(const Samples& s) {
  std::vector<double> e(static_cast<std::size_t>(Frames(s) / kBlock));
  for (std::size_t b = 0; b < e.size(); ++b) {
    double sum = 0;
    for (long i = 0; i < 2 * kBlock; ++i) {
      const double v = s[b * 2 * kBlock + static_cast<std::size_t>(i)];
      sum += v * v;
    }
    e[b] = std::sqrt(sum / (2 * kBlock));
  }
  return e;
}

// The lag (in blocks) within `range` of `hint` at which the recording's
// envelope best matches `count` blocks of the reference's from `first`, and
// how badly (squared difference over the reference's energy). Lags are
// tried outwards from the hint, and a later one must be clearly better: a
// piece that repeats itself matches where the hint says.
std::pair<long, double> BestBlockLag(const std::vector<double>& rec,
                                     const std::vector<double>& ref, long first,
                                     long count, long hint, long range) {
  double energy = 0;
  for (long b = first; b < first + count; ++b)
    energy +=
        ref[static_cast<std::size_t>(b)] * ref[static_cast<std::size_t>(b)];
  std::pair<long, double> best{0, std::numeric_limits<double>::infinity()};
  if (energy <= 0) return best;
  const long lo = -first;
  const long hi = static_cast<long>(rec.size()) - first - count;
  for (long d = 0; d <= range; ++d) {
    for (const long lag : {hint + d, hint - d}) {
      if (lag < lo || lag > hi || (d == 0 && lag != hint + d)) continue;
      double cost = 0;
      const double enough = (best.second - 1e-6) * energy;
      for (long b = first; b < first + count && cost < enough; ++b) {
        const double diff = rec[static_cast<std::size_t>(b + lag)] -
                            ref[static_cast<std::size_t>(b)];
        cost += diff * diff;
      }
      if (cost < enough) best = {lag, cost / energy};
    }
  }
  return best;
}

// Squared difference of `count` frames of the reference from `first`
// against the recording at `offset`, over the reference's energy.
double SampleCost(const Samples& rec, const Samples& ref, long first,
                  long count, long offset) {
  double cost = 0, energy = 0;
  for (long i = 2 * first; i < 2 * (first + count); ++i) {
    const long j = i + 2 * offset;
    const double r = ref[static_cast<std::size_t>(i)];
    const double x = j >= 0 && j < static_cast<long>(rec.size())
                         ? rec[static_cast<std::size_t>(j)]
                         : 0.0;
    cost += (x - r) * (x - r);
    energy += r * r;
  }
  return energy > 0 ? cost / energy : std::numeric_limits<double>::infinity();
}

// The offset, within two blocks of `lag_blocks`, at which `count` frames of
// the reference from `first` best match the recording, and how badly.
std::pair<long, double> ToTheFrame(const Samples& rec, const Samples& ref,
                                   long first, long count, long lag_blocks) {
  std::pair<long, double> best{lag_blocks * kBlock,
                               std::numeric_limits<double>::infinity()};
  for (long o = (lag_blocks - 2) * kBlock; o <= (lag_blocks + 2) * kBlock;
       ++o) {
    const double c = SampleCost(rec, ref, first, count, o);
    if (c < best.second) best = {o, c};
  }
  return best;
}

// Where the music goes on after a departure: the offset, within 3 s of
// `offset`, at which a quarter of a second of the reference from `first`
// matches the recording, to the frame; nothing where it matches nowhere.
std::optional<long> Realign(const Samples& recording, const Samples& reference,
                            const std::vector<double>& rec,
                            const std::vector<double>& ref, long first,
                            long offset) {
  const long count = kRate / 4;
  if (first + count > Frames(reference)) return std::nullopt;
  const auto [lag, envelope_cost] =
      BestBlockLag(rec, ref, first / kBlock, count / kBlock, offset / kBlock,
                   3 * kRate / kBlock);
  if (envelope_cost > 0.1) return std::nullopt;
  const auto [best, cost] = ToTheFrame(recording, reference, first, count, lag);
  if (cost > 0.05) return std::nullopt;
  return best;
}

}  // namespace

std::optional<std::size_t> FirstSound(const Samples& s, float threshold,
                                      std::size_t from) {
  for (std::size_t i = 2 * from; i < s.size(); ++i) {
    if (std::fabs(s[i]) > threshold) return i / 2;
  }
  return std::nullopt;
}

std::optional<std::size_t> LastSound(const Samples& s, float threshold) {
  for (std::size_t i = s.size(); i > 0; --i) {
    if (std::fabs(s[i - 1]) > threshold) return (i - 1) / 2;
  }
  return std::nullopt;
}

std::optional<long> Align(const Samples& recording, const Samples& reference,
                          std::size_t from_frame) {
  const std::vector<double> rec = Envelope(recording);
  const std::vector<double> ref = Envelope(reference);
  const long first = static_cast<long>(from_frame) / kBlock;
  const long count =
      std::min<long>(1000, static_cast<long>(ref.size()) - first);
  if (count < 50) return std::nullopt;
  // Where each starts to sound gives the place to look first; the whole
  // recording is searched when the match there is poor.
  const auto rec_on = FirstSound(recording, kQuiet);
  const auto ref_on = FirstSound(reference, kQuiet);
  std::pair<long, double> best{0, std::numeric_limits<double>::infinity()};
  if (rec_on && ref_on) {
    const long hint =
        (static_cast<long>(*rec_on) - static_cast<long>(*ref_on)) / kBlock;
    best = BestBlockLag(rec, ref, first, count, hint, 1000);
  }
  if (best.second > 0.1) {
    best = BestBlockLag(rec, ref, first, count, 0,
                        static_cast<long>(rec.size() + ref.size()));
  }
  if (best.second > 0.5) return std::nullopt;
  // Then to the frame, on a quarter of a second.
  const long frames = std::min<long>(
      kRate / 4, Frames(reference) - static_cast<long>(from_frame));
  const auto [offset, cost] = ToTheFrame(
      recording, reference, static_cast<long>(from_frame), frames, best.first);
  if (cost > 0.5) return std::nullopt;
  return offset;
}

Comparison Compare(const Samples& recording, const Samples& reference,
                   std::size_t from_frame) {
  Comparison c;
  const std::optional<long> offset = Align(recording, reference, from_frame);
  if (!offset) return c;
  c.aligned = true;
  c.offset = *offset;
  long at = c.offset;  // the offset where the comparison has got to
  auto rec_at = [&](long i) -> double {
    const long j = i + 2 * at;
    return j >= 0 && j < static_cast<long>(recording.size())
               ? recording[static_cast<std::size_t>(j)]
               : 0.0;
  };
  const long end = Frames(reference);
  const long windows = (end - static_cast<long>(from_frame)) / kWindow;
  // Per 10 ms window: the reference's energy, and the error's at `at`.
  std::vector<std::pair<double, double>> energies(
      static_cast<std::size_t>(std::max(windows, 0L)));
  auto measure = [&](long from_window) {
    for (long w = from_window; w < windows; ++w) {
      const long first = static_cast<long>(from_frame) + w * kWindow;
      double s = 0, n = 0;
      for (long i = 2 * first; i < 2 * (first + kWindow); ++i) {
        const double r = reference[static_cast<std::size_t>(i)];
        s += r * r;
        n += (rec_at(i) - r) * (rec_at(i) - r);
      }
      energies[static_cast<std::size_t>(w)] = {s, n};
    }
  };
  measure(0);
  double signal = 0;
  for (const auto& e : energies) signal += e.first;
  // A window departs when its error is above a hundredth of its own energy
  // (20 dB) and above a millionth of an average window's (-60 dB). After
  // 2, 4, 8... windows of a departure the music is looked for again.
  const double floor =
      windows > 0 ? 1e-6 * signal / static_cast<double>(windows) : 0;
  std::vector<double> rec_env, ref_env;  // made at the first departure
  Gap* open = nullptr;
  long departed = 0;
  for (long w = 0; w < windows; ++w) {
    const long first = static_cast<long>(from_frame) + w * kWindow;
    const auto [s, n] = energies[static_cast<std::size_t>(w)];
    if (!(n > 0.01 * s + floor)) {
      open = nullptr;
      continue;
    }
    if (open == nullptr) {
      c.gaps.push_back({first * 1000.0 / kRate, 0, 0});
      open = &c.gaps.back();
      departed = 0;
    }
    open->length_ms += 1000.0 * kWindow / kRate;
    if (++departed < 2 || (departed & (departed - 1)) != 0) continue;
    if (rec_env.empty()) {
      rec_env = Envelope(recording);
      ref_env = Envelope(reference);
    }
    const std::optional<long> moved =
        Realign(recording, reference, rec_env, ref_env, first + kWindow, at);
    if (!moved || *moved == at) continue;
    open->shift_ms += static_cast<double>(*moved - at) * 1000.0 / kRate;
    at = *moved;
    measure(w + 1);
  }
  double noise = 0;
  for (const auto& e : energies) noise += e.second;
  c.snr_db = noise > 0 ? 10 * std::log10(signal / noise) : 200.0;
  const auto rec_end = LastSound(recording, kQuiet);
  const auto ref_end = LastSound(reference, kQuiet);
  if (rec_end && ref_end) {
    c.length_error_ms =
        (static_cast<double>(*rec_end) - static_cast<double>(c.offset) -
         static_cast<double>(*ref_end)) *
        1000.0 / kRate;
  }
  return c;
}

std::string Describe(const Comparison& c) {
  if (!c.aligned) return "the rendering was not found in the recording";
  char line[256];
  std::snprintf(
      line, sizeof line,
      "offset %.1f ms, SNR %.1f dB, length error %+.1f ms, %zu gap(s)",
      c.offset * 1000.0 / kRate, c.snr_db, c.length_error_ms, c.gaps.size());
  std::string text = line;
  for (std::size_t i = 0; i < c.gaps.size() && i < 5; ++i) {
    std::snprintf(line, sizeof line, "%s%.0f ms at %.0f ms",
                  i == 0 ? ": " : ", ", c.gaps[i].length_ms, c.gaps[i].at_ms);
    text += line;
    if (c.gaps[i].shift_ms != 0) {
      std::snprintf(line, sizeof line, " (then %+.1f ms)", c.gaps[i].shift_ms);
      text += line;
    }
  }
  return text;
}

}  // namespace audio
