#include "pvl_mci/renderer.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace pvl {
namespace {

using std::chrono::milliseconds;

// Frames rendered at a time: 10 ms.
constexpr std::size_t kChunkFrames = 10 * kFramesPerMs;
// A sound output that takes no frame for this long while frames wait has
// failed; after kSuspect the position already keeps real time without it.
constexpr Nanos kStall = milliseconds(1000);
constexpr Nanos kSuspect = milliseconds(200);
// At most one attempt to open a sound output a second; for a second after
// a sign that a server has come (its socket made: it may not answer yet),
// one every kQuickRetry.
constexpr Nanos kRetry = milliseconds(1000);
constexpr Nanos kQuickRetry = milliseconds(100);
constexpr Nanos kQuickFor = milliseconds(1000);
// A stream joining the music plays silence, kept kLeadFrames ahead of what
// is heard, until it tells when its frames are heard; it is looked at every
// kLeadPoll meanwhile. The music then begins at a frame heard at least
// kLeadMargin from now. (How long a stream takes to be heard cannot be
// known before: on PulseAudio, 6-28 ms on a quiet machine and up to 45 ms
// on a busy one, by where the sink stands in its mixing.) A stream whose
// server has not answered yet is waited for, however long: a server held
// a while plays the silence after the hold, and tells when. One that
// answers but has taken nothing kLeadMore later (PulseAudio takes its
// first frames within 55 ms, even with both cores busy) may want more
// before it plays: PipeWire takes a whole graph cycle at a time, and
// nothing less (170 ms in the tests, 8192 frames at most). It is given
// half a buffer of silence (190 ms). One that still tells no more than
// that all it took was heard by kLeadLongest gets the music after the part
// of the silence not told heard yet, taken to play from now on.
constexpr std::uint64_t kLeadFrames = 40 * kFramesPerMs;
constexpr Nanos kLeadPoll = milliseconds(5);
constexpr Nanos kLeadMargin = milliseconds(10);
constexpr Nanos kLeadMore = milliseconds(100);
constexpr Nanos kLeadLongest = milliseconds(500);
// Asked back this much later than due: the process was not running. The
// music then comes in again over kFadeFrames.
constexpr Nanos kLate = milliseconds(300);
// How often an opening output, or one that is not moving, is looked at.
constexpr Nanos kPoll = milliseconds(20);
// The longest sleep while a sound output plays: a server gone is noticed.
constexpr Nanos kLongest = milliseconds(250);

}  // namespace

Renderer::Renderer(std::unique_ptr<openmpt::module> module,
                   std::unique_ptr<Output> output, OutputOpener reopen)
    : module_(std::move(module)),
      real_(std::move(output)),
      stand_in_(MakeSilentOutput()),
      reopen_(std::move(reopen)) {}

// The outputs close with it, which drops what they hold: no halt first.
Renderer::~Renderer() = default;

void Renderer::Begin(std::uint32_t from_ms, std::uint32_t to_ms, Nanos now) {
  End();
  output_failed_ = false;
  start_ms_ = from_ms;
  run_frames_ = static_cast<std::uint64_t>(std::max(from_ms, to_ms) - from_ms) *
                kFramesPerMs;
  running_ = true;
  // The run began now: a first Step much later means the process was
  // stopped in between (a job started in the background), not played.
  due_ = now;
  PollOutput(now);
  Output& output =
      real_ && real_->Poll(now) == Output::State::kReady ? *real_ : *stand_in_;
  PlayOn(output, 0, now);
}

void Renderer::End() {
  if (running_ && active_ != nullptr) active_->Halt();
  running_ = false;
  placing_ = false;
  leaving_.reset();
}

// The music goes on through `output` from `heard` frames into the run.
void Renderer::PlayOn(Output& output, std::uint64_t heard, Nanos now) {
  if (active_ != nullptr && active_ != &output) active_->Halt();
  active_ = &output;
  base_ = written_ = std::min(heard, run_frames_);
  finished_ = false;
  Reposition(base_);
  last_heard_ = base_;
  last_move_at_ = now;
  active_->Start(now);
  seen_underruns_ = active_->Underruns();
  fade_in_ = 0;
  placing_ = false;
  joined_at_ = Nanos{0};
}

// The music goes on through real_, now ready, from the place real time has
// reached when its first frame is heard (Lead). What played so far (an
// output left, or the stand-in) plays on until then.
void Renderer::MoveTo(Nanos now) {
  const Progress line{KeptTime(now), now, true, run_frames_};
  active_ = nullptr;  // not halted
  PlayOn(*real_, 0, now);
  line_ = line;
  placing_ = true;
  answered_at_ = kForever;
}

// Feeds a stream joining the music silence until it tells when its frames
// are heard, then places the music after the silence; true when there is
// room for the music at once. Until then the stream's frames are counted
// from base_ 0, and the position keeps real time by line_.
bool Renderer::Lead(Nanos now) {
  const Progress seg = active_->Heard(now);
  const std::uint64_t lead = written_ - base_;
  const std::uint64_t lead_heard = std::min(lead, HeardBy(seg, now));
  const bool told =
      lead > 0 && seg.moving && seg.limit > seg.frames && seg.limit >= lead;
  const Nanos at = told ? std::max(WhenHeard(seg, lead), now)
                        : now + TimeOf(lead - lead_heard);
  if (seg.moving) answered_at_ = std::min(answered_at_, now);
  if ((told && (at >= now + kLeadMargin || lead_heard >= lead)) ||
      now - answered_at_ > kLeadLongest) {
    // The music frame due at `at` follows the silence (a move within the
    // first lead of a run comes in a little late).
    const std::uint64_t place = std::min(HeardBy(line_, at), run_frames_);
    base_ = place > lead ? place - lead : 0;
    written_ = base_ + lead;
    Reposition(written_);
    last_heard_ = base_ + HeardBy(seg, now);
    last_move_at_ = now;
    placing_ = false;
    joined_at_ = at;
    return true;
  }
  // (Half the buffer from the stream's start, the most a cycle takes:
  // room freed by a first take not told yet is not filled with more.)
  const bool wants_more = answered_at_ != kForever && seg.frames == 0 &&
                          now - answered_at_ >= kLeadMore;
  const std::uint64_t ahead =
      wants_more ? std::max<std::uint64_t>(lead_heard + kLeadFrames,
                                           active_->Capacity() / 2)
                 : lead_heard + kLeadFrames;
  const auto silence = static_cast<std::size_t>(std::min<std::uint64_t>(
      ahead > lead ? ahead - lead : 0,
      std::min(active_->Room(now), active_->Capacity())));
  if (silence == 0) return false;
  if (buffer_.size() < 2 * silence) buffer_.resize(2 * silence);
  std::fill(buffer_.begin(), buffer_.begin() + 2 * silence, 0.0f);
  active_->Write(buffer_.data(), silence, now);
  written_ += silence;
  // Played at once: a stream waits for its buffer to fill first.
  active_->Trigger(now);
  return false;
}

// Underruns while the run plays count, and each grows the buffer; those
// of the stream's end do not, nor those of a stop of this process (a new
// stream starts after one: PlayOn).
void Renderer::CountUnderruns() {
  const std::uint64_t count = active_->Underruns();
  if (count > seen_underruns_ && Real() && !finished_ && !placing_) {
    stats_.underruns += count - seen_underruns_;
    if (active_->Grow()) ++stats_.grown;
  }
  seen_underruns_ = count;
}

// The module goes to the start of a row (rows last up to seconds) at or
// before the place asked, and what lies between is rendered and passed
// over: the music then sounds as it would have, played on to there.
// libopenmpt goes to the row at or after a time; a little earlier each try
// finds the one before.
void Renderer::Reposition(std::uint64_t frame) {
  lead_ = skip_ = 0;
  const double target = (static_cast<double>(start_ms_) * kFramesPerMs +
                         static_cast<double>(frame)) /
                        kSampleRate;
  try {
    double at = module_->set_position_seconds(target);
    for (double back = 0.05; at > target && back < 60 && target > 0; back *= 2)
      at = module_->set_position_seconds(std::max(0.0, target - back));
    const double frames = std::round((at - target) * kSampleRate);
    if (frames > 0) lead_ = static_cast<std::uint64_t>(frames);
    if (frames < 0) skip_ = static_cast<std::uint64_t>(-frames);
  } catch (const std::exception&) {
  }
}

// Looks after the sound output: lets go of one that failed, opens a new
// one when it is time, and moves to a better one once that is ready.
void Renderer::PollOutput(Nanos now) {
  if (real_ && real_->Poll(now) == Output::State::kFailed) DropOutput(now);
  if (better_ && better_->Poll(now) == Output::State::kFailed) better_.reset();
  // (Not while the last frames play out on the one there is.)
  if (better_ && real_ && !(running_ && Real() && finished_) &&
      better_->Poll(now) == Output::State::kReady) {
    const bool playing = running_ && Real();
    leaving_ = std::exchange(real_, std::move(better_));
    if (playing) {
      MoveTo(now);
    } else {
      if (active_ == leaving_.get()) active_ = nullptr;
      leaving_.reset();
    }
  }
  const bool looking = !real_ || (!better_ && real_->Rank() > 0);
  if (looking && reopen_.server_came && reopen_.server_came()) {
    next_attempt_ = now;
    quick_until_ = now + kQuickFor;
  }
  if (reopen_ && now >= next_attempt_) {
    const Nanos retry = now < quick_until_ ? kQuickRetry : kRetry;
    if (!real_) {
      next_attempt_ = now + retry;
      real_ = reopen_.open(kAllKinds);
      if (real_->Poll(now) == Output::State::kFailed) real_.reset();
    } else if (!better_ && real_->Rank() > 0) {
      next_attempt_ = now + retry;
      better_ = reopen_.open(real_->Rank());
    }
  }
}

// The run goes on silently, in time, from where it has got to.
void Renderer::DropOutput(Nanos now) {
  const bool playing = running_ && Real();
  output_failed_ = output_failed_ || playing;
  const std::uint64_t heard = KeptTime(now);
  if (Real()) active_ = nullptr;
  real_.reset();
  if (playing) PlayOn(*stand_in_, heard, now);
}

// What has been heard by `now` had the output gone on as the clock does
// since it was last seen to move (or, while a stream joins the music, as
// real time has it).
std::uint64_t Renderer::KeptTime(Nanos now) const {
  const Progress kept =
      placing_ ? line_
               : Progress{last_heard_, last_move_at_, true, run_frames_};
  return std::min(HeardBy(kept, now), run_frames_);
}

std::size_t Renderer::Render(std::size_t want, float* into) {
  if (lead_ > 0) {
    // The module starts on a row after the place played from: silence
    // until then keeps the run in time.
    const auto got =
        static_cast<std::size_t>(std::min<std::uint64_t>(want, lead_));
    std::fill(into, into + 2 * got, 0.0f);
    lead_ -= got;
    return got;
  }
  try {
    // The module starts on a row before the place played from: what lies
    // between is not heard.
    while (skip_ > 0) {
      const std::size_t n = module_->read_interleaved_stereo(
          kSampleRate,
          static_cast<std::size_t>(std::min<std::uint64_t>(skip_, want)), into);
      skip_ = n > 0 ? skip_ - std::min<std::uint64_t>(skip_, n) : 0;
    }
    return module_->read_interleaved_stereo(kSampleRate, want, into);
  } catch (const std::exception&) {
    return 0;  // a module that cannot go on has ended
  }
}

// Renders all the output has room for, at most a buffer's worth, and
// writes it at once (each write wakes the sound library's own thread);
// true when there is room for more at once.
bool Renderer::Fill(Nanos now) {
  if (finished_) return false;
  if (placing_ && !Lead(now)) return false;
  const std::size_t room = std::min(active_->Room(now), active_->Capacity());
  if (buffer_.size() < 2 * room) buffer_.resize(2 * room);
  std::size_t count = 0;
  bool ended = false;
  for (;;) {
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(kChunkFrames, run_frames_ - written_ - count));
    if (want == 0 || room - count < want) break;
    const std::size_t got = Render(want, buffer_.data() + 2 * count);
    count += got;
    if (got == 0) {
      ended = true;  // the module may end before the run does
      break;
    }
  }
  for (std::size_t i = 0; i < count && fade_in_ > 0; ++i, --fade_in_) {
    const float gain =
        1.0f - static_cast<float>(fade_in_) / static_cast<float>(kFadeFrames);
    buffer_[2 * i] *= gain;
    buffer_[2 * i + 1] *= gain;
  }
  if (count > 0) active_->Write(buffer_.data(), count, now);
  written_ += count;
  if (ended || written_ >= run_frames_) {
    run_frames_ = written_;
    finished_ = true;
    active_->Finish(now);
    return false;
  }
  return room == active_->Capacity() && active_->Room(now) >= kChunkFrames;
}

Renderer::Report Renderer::Step(Nanos now) {
  Report report;
  if (!running_) return report;
  if (due_ != kForever && now > due_ + kLate) {
    // This process was stopped: the output played what it had, then ran
    // dry (or went on without us). As on a sound card, the music goes on
    // from the first frame not written yet, and the output is not to blame.
    last_move_at_ = now;
    if (placing_) {
      // No music had gone out to the stream yet: it joins the music where
      // real time had it at the stop.
      line_ = {HeardBy(line_, due_), now, true, run_frames_};
      MoveTo(now);
    } else if (Real() && !finished_) {
      PlayOn(*real_, written_, now);
      fade_in_ = kFadeFrames;
    }
  }
  PollOutput(now);
  if (real_ && !Real() && !finished_ &&
      real_->Poll(now) == Output::State::kReady)
    MoveTo(now);
  const bool more = Fill(now);
  if (Real() && real_->Poll(now) == Output::State::kFailed) {
    DropOutput(now);  // it failed while written to
    return Step(now);
  }
  CountUnderruns();

  const Progress seg = active_->Heard(now);
  if (leaving_ && (!Real() || (!placing_ && now >= joined_at_)))
    leaving_.reset();
  const std::uint64_t heard = base_ + HeardBy(seg, now);
  if (heard != last_heard_) {
    last_heard_ = heard;
    last_move_at_ =
        seg.moving ? std::min(now, WhenHeard(seg, heard - base_)) : now;
  }
  const bool done = finished_ && heard >= written_;
  report.heard = {seg.frames + base_, seg.at, seg.moving, seg.limit + base_};
  // A sound output that stands still has failed, and the position keeps
  // real time without it meanwhile.
  if (Real() && !done && now - last_move_at_ > kStall) {
    DropOutput(now);
    return Step(now);
  }
  if (Real() && !done && now - last_move_at_ > kSuspect)
    report.heard = {last_heard_, last_move_at_, true, run_frames_};
  // Until a stream joining the music is heard, the line keeps real time
  // (also past when it was due, while it has played nothing: PipeWire
  // begins on its graph's next cycle).
  if (placing_ || now < joined_at_ ||
      (joined_at_ != Nanos{0} && HeardBy(seg, now) == 0))
    report.heard = {HeardBy(line_, now), now, true, run_frames_};
  report.output_failed = std::exchange(output_failed_, false);
  if (done) {
    report.done = true;
    report.done_at_ms =
        start_ms_ + static_cast<std::uint32_t>(written_ / kFramesPerMs);
    End();
    return report;
  }
  report.wake = due_ = NextWake(seg, more, now);
  return report;
}

Nanos Renderer::NextWake(const Progress& seg, bool more, Nanos now) const {
  if (more) return now;
  // When the last frame is heard, or when half a buffer can be written;
  // but while little is left to hear, often enough that room granted
  // late is used in time.
  const std::uint64_t queued = written_ - base_;
  const std::uint64_t low = active_->Capacity() / 4;
  Nanos wake = finished_
                   ? WhenHeard(seg, queued)
                   : std::min(active_->WhenRoom(active_->Capacity() / 2, now),
                              WhenHeard(seg, queued > low ? queued - low : 0));
  if (wake <= now) wake = now + kPoll;
  if (Real()) {
    wake = std::min(wake, now + kLongest);
    for (Nanos at : {last_move_at_ + kSuspect, last_move_at_ + kStall})
      if (at > now) wake = std::min(wake, at + milliseconds(1));
  }
  // (Also a stream not moving yet: its first report comes in a moment.)
  if ((real_ && !Real()) || better_ || (Real() && !seg.moving && !finished_))
    wake = std::min(wake, now + kPoll);
  if (placing_) wake = std::min(wake, now + kLeadPoll);
  if (leaving_ && joined_at_ > now) wake = std::min(wake, joined_at_);
  if (reopen_ && (!real_ || real_->Rank() > 0))
    wake = std::min(wake, std::max(next_attempt_, now + kPoll));
  return wake;
}

}  // namespace pvl
