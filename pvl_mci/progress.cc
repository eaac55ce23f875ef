// The arithmetic of heard frames against time, exact over any length of
// run: whole seconds and the rest apart, so that no product leaves 64 bits
// (nanoseconds times the rate would after 106 hours).
#include <algorithm>

#include "pvl_mci/output.h"

namespace pvl {
namespace {

constexpr std::uint64_t kNanosPerSecond = 1000000000u;

}  // namespace

std::uint64_t HeardBy(const Progress& p, Nanos now) {
  std::uint64_t frames = p.frames;
  if (p.moving && now > p.at) {
    const auto ns = static_cast<std::uint64_t>((now - p.at).count());
    frames += ns / kNanosPerSecond * kSampleRate +
              ns % kNanosPerSecond * kSampleRate / kNanosPerSecond;
  }
  return std::min(frames, p.limit);
}

Nanos TimeOf(std::uint64_t frames) {
  const std::uint64_t rest = frames % kSampleRate;
  return Nanos(static_cast<Nanos::rep>(
      frames / kSampleRate * kNanosPerSecond +
      (rest * kNanosPerSecond + kSampleRate - 1) / kSampleRate));
}

Nanos WhenHeard(const Progress& p, std::uint64_t frames) {
  if (frames <= p.frames) return p.at;
  if (frames > p.limit || !p.moving) return kForever;
  return p.at + TimeOf(frames - p.frames);
}

Progress HeardFromServer(std::uint64_t read, std::int64_t ahead_us,
                         bool playing, Nanos now) {
  const std::int64_t us =
      static_cast<std::int64_t>(read * 1000000 / kSampleRate) + ahead_us;
  Progress p;
  p.moving = true;
  p.limit = playing ? ~std::uint64_t{0} : read;
  if (us >= 0) {
    p.frames =
        std::min(read, static_cast<std::uint64_t>(us) * kSampleRate / 1000000);
    p.at = now;
  } else {
    p.at = now + std::chrono::microseconds(-us);  // the first is on its way
  }
  return p;
}

Progress HeardInCycles(const Progress& carried, const Progress& told,
                       Nanos since, Nanos now) {
  const std::uint64_t least = HeardBy(told, now);
  const std::uint64_t was = HeardBy(carried, now);
  if (!carried.moving || !told.moving || was <= least || now <= since)
    return told;
  Progress p = told;
  p.frames =
      std::min(was, least + HeardBy({0, since, true, ~std::uint64_t{0}}, now));
  p.at = now;
  return p;
}

Nanos WhenRoomFor(std::size_t frames, std::size_t room, Nanos now) {
  return now + TimeOf(frames > room ? frames - room : 0);
}

}  // namespace pvl
