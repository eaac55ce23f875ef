#include "pvl_mci/faded_end.h"

#include <algorithm>

namespace pvl {

const std::vector<float>& FadedEnd::Next(const float* frames, std::size_t count,
                                         bool faded) {
  out_.assign(kept_.begin(), kept_.end());
  out_.insert(out_.end(), frames, frames + 2 * count);
  const std::size_t total = out_.size() / 2;
  const std::size_t fade =
      faded ? std::min<std::size_t>(total, kFadeFrames) : 0;
  kept_.assign(out_.end() - static_cast<std::ptrdiff_t>(2 * fade), out_.end());
  // The gain falls by one step a frame, to 0 on the last.
  for (std::size_t i = 0; i < fade; ++i) {
    const float gain =
        static_cast<float>(fade - 1 - i) / static_cast<float>(fade);
    out_[2 * (total - fade + i)] *= gain;
    out_[2 * (total - fade + i) + 1] *= gain;
  }
  return out_;
}

}  // namespace pvl
