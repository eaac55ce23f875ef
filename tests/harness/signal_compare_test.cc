// The comparison the listening tests rely on, on recordings made from the
// rendering with known faults: it must find each fault, where it is and how
// long, and pass a faithful recording however far into it the music starts.
#include "harness/signal_compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "harness/reference_render.h"
#include "xmgen/pieces.h"

namespace {

using audio::Samples;

constexpr std::size_t kMs = 48;  // frames

// A second and a half of the bundled piece from its start: every part
// sounds, and nothing in it repeats within the second the alignment uses.
const Samples& Piece() {
  static const Samples piece = [] {
    Samples s = audio::RenderReference(xmgen::WriteXm(xmgen::ComposePiece()));
    s.resize(std::min<std::size_t>(s.size(), 2 * 1500 * kMs));
    return s;
  }();
  return piece;
}

// `lead` ms of silence, then `s`.
Samples After(std::size_t lead_ms, const Samples& s) {
  Samples out(2 * lead_ms * kMs, 0.0f);
  out.insert(out.end(), s.begin(), s.end());
  return out;
}

// Frames [at, at + length) of `s` removed (a skip) or silenced (a dropout).
Samples Skip(Samples s, std::size_t at_ms, std::size_t length_ms) {
  s.erase(
      s.begin() + static_cast<std::ptrdiff_t>(2 * at_ms * kMs),
      s.begin() + static_cast<std::ptrdiff_t>(2 * (at_ms + length_ms) * kMs));
  return s;
}
Samples Dropout(Samples s, std::size_t at_ms, std::size_t length_ms) {
  std::fill(
      s.begin() + static_cast<std::ptrdiff_t>(2 * at_ms * kMs),
      s.begin() + static_cast<std::ptrdiff_t>(2 * (at_ms + length_ms) * kMs),
      0.0f);
  return s;
}

TEST(SignalCompare, AFaithfulRecordingPassesWhereverTheMusicStarts) {
  ASSERT_GT(Piece().size(), 2 * 1400 * kMs);
  for (std::size_t lead_ms : {0u, 37u, 1250u}) {
    const audio::Comparison c =
        audio::Compare(After(lead_ms, Piece()), Piece(), 200 * kMs);
    ASSERT_TRUE(c.aligned) << lead_ms;
    EXPECT_EQ(c.offset, static_cast<long>(lead_ms * kMs));
    EXPECT_GT(c.snr_db, 150);
    EXPECT_TRUE(c.gaps.empty()) << audio::Describe(c);
    EXPECT_DOUBLE_EQ(c.length_error_ms, 0.0);
  }
}

TEST(SignalCompare, NoiseSetsTheRatio) {
  // White noise 70 dB below the piece's power.
  const Samples& piece = Piece();
  double power = 0;
  for (float v : piece) power += double{v} * v;
  power /= static_cast<double>(piece.size());
  const double amplitude = std::sqrt(3 * power * 1e-7);  // uniform: a²/3
  Samples noisy = piece;
  std::uint32_t seed = 1;
  for (float& v : noisy) {
    seed = seed * 1664525u + 1013904223u;
    v += static_cast<float>(amplitude * (seed / 2147483648.0 - 1.0));
  }
  const audio::Comparison c =
      audio::Compare(After(100, noisy), piece, 200 * kMs);
  ASSERT_TRUE(c.aligned);
  EXPECT_NEAR(c.snr_db, 70.0, 1.0);
  EXPECT_TRUE(c.gaps.empty()) << audio::Describe(c);
}

TEST(SignalCompare, FindsADropoutAndWhereItIs) {
  const audio::Comparison c =
      audio::Compare(After(50, Dropout(Piece(), 700, 20)), Piece(), 200 * kMs);
  ASSERT_TRUE(c.aligned);
  EXPECT_LT(c.snr_db, 40);
  ASSERT_EQ(c.gaps.size(), 1u) << audio::Describe(c);
  EXPECT_NEAR(c.gaps[0].at_ms, 700, 10);
  EXPECT_NEAR(c.gaps[0].length_ms, 20, 10);
}

TEST(SignalCompare, ASkipShowsFromThereOnAndShortensThePiece) {
  // 5 ms lost at 900 ms: everything after comes early.
  const audio::Comparison c =
      audio::Compare(After(50, Skip(Piece(), 900, 5)), Piece(), 200 * kMs);
  ASSERT_TRUE(c.aligned);
  ASSERT_FALSE(c.gaps.empty());
  EXPECT_NEAR(c.gaps[0].at_ms, 900, 10);
  EXPECT_NEAR(c.length_error_ms, -5.0, 1.0);
}

// Silence inserted (a stream that ran dry): one short gap, the rest found
// 40 ms later and compared there; nothing else departs.
TEST(SignalCompare, ADelayIsOneGapAndTheRestIsComparedWhereItIs) {
  Samples late = Piece();
  late.insert(late.begin() + 2 * 900 * kMs, 2 * 40 * kMs, 0.0f);
  const audio::Comparison c =
      audio::Compare(After(50, late), Piece(), 200 * kMs);
  ASSERT_TRUE(c.aligned);
  ASSERT_EQ(c.gaps.size(), 1u) << audio::Describe(c);
  EXPECT_NEAR(c.gaps[0].at_ms, 900, 10);
  EXPECT_LE(c.gaps[0].length_ms, 60);
  EXPECT_NEAR(c.gaps[0].shift_ms, 40, 0.1);
  EXPECT_NEAR(c.length_error_ms, 40, 1.0);
}

TEST(SignalCompare, ALossBeforeTheComparedPartOnlyMovesTheStart) {
  // As a monitor that loses a little soon after a stream starts: compared
  // from 200 ms on, the rest matches at the shifted place.
  const audio::Comparison c =
      audio::Compare(After(300, Skip(Piece(), 50, 23)), Piece(), 200 * kMs);
  ASSERT_TRUE(c.aligned);
  EXPECT_EQ(c.offset, static_cast<long>((300 - 23) * kMs));
  EXPECT_TRUE(c.gaps.empty()) << audio::Describe(c);
}

TEST(SignalCompare, SomethingElseEntirelyIsNotFound) {
  const Samples other =
      audio::RenderReference(xmgen::WriteXm(xmgen::TimedPiece(1500)));
  EXPECT_FALSE(audio::Compare(After(100, other), Piece(), 200 * kMs).aligned);
  EXPECT_FALSE(audio::Compare(Samples(2 * 2000 * kMs, 0.0f), Piece(), 200 * kMs)
                   .aligned);
}

}  // namespace
