// What a stream holds after each write through FadedEnd, kept as a sound
// server keeps it: each write steps back over the faded end, then writes.
#include "pvl_mci/faded_end.h"

#include <gtest/gtest.h>

#include <vector>

namespace pvl {
namespace {

class FadedEndTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FadedEndTest, EndsInAFadeAndKeepsTheMusicWhole) {
  const std::size_t chunk = GetParam();
  std::vector<float> music(2 * 3000);
  for (std::size_t i = 0; i < music.size(); ++i)
    music[i] = 0.5f + static_cast<float>(i % 7) / 20.0f;  // never silent
  FadedEnd end;
  std::vector<float> stream;
  const auto put = [&](const std::vector<float>& data, std::size_t back) {
    stream.resize(stream.size() - 2 * back);
    stream.insert(stream.end(), data.begin(), data.end());
  };
  // Every other write without a fade: it leaves the music whole, and
  // nothing to step back over.
  for (std::size_t at = 0; at < 3000; at += chunk) {
    const std::size_t count = std::min(chunk, 3000 - at);
    const bool faded = at / chunk % 2 == 0;
    const std::size_t back = end.Back();
    put(end.Next(music.data() + 2 * at, count, faded), back);
    const std::size_t written = at + count;
    ASSERT_EQ(stream.size(), 2 * written);
    // The fade spans what this write holds, up to kFadeFrames.
    const std::size_t fade =
        faded ? std::min<std::size_t>(back + count, kFadeFrames) : 0;
    EXPECT_EQ(end.Back(), fade);
    // Whole up to the fade, then a gain falling frame by frame to 0.
    for (std::size_t i = 0; i < 2 * (written - fade); ++i)
      ASSERT_EQ(stream[i], music[i]) << "frame " << i / 2;
    float gain = 1.0f;
    for (std::size_t i = written - fade; i < written; ++i) {
      const float now = stream[2 * i] / music[2 * i];
      ASSERT_LT(now, gain) << "frame " << i;
      gain = now;
    }
    if (faded) {
      EXPECT_EQ(gain, 0.0f);
    }
  }
  put(end.Whole(), end.Back());
  EXPECT_EQ(stream, music);  // a stream that ends plays the music to its end
}

// Writes shorter than the fade, as long, and longer.
INSTANTIATE_TEST_SUITE_P(Chunks, FadedEndTest,
                         ::testing::Values(100, kFadeFrames, 1000));

}  // namespace
}  // namespace pvl
