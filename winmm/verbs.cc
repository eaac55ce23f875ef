#include "winmm/verbs.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winmm {
namespace {

using mci::Fail;
using mci::Mode;
using mci::Ok;

// The words after the device name, in order.
class Words {
 public:
  explicit Words(const std::vector<Word>& words) : words_(words) {}
  bool Done() const { return at_ == words_.size(); }
  const Word& Next() { return words_[at_++]; }
  // The word after a keyword, as its value: any word, "wait" too.
  bool TakeValue(Word& value) {
    if (Done()) return false;
    value = Next();
    return true;
  }
  // Takes the words of `phrase` ("number of tracks") when `first` and the
  // words that follow it are those.
  bool TakePhrase(const Word& first, std::string_view phrase) {
    std::size_t at = at_;
    for (std::size_t start = 0;;) {
      const std::size_t end = std::min(phrase.find(' ', start), phrase.size());
      const std::string_view part = phrase.substr(start, end - start);
      if (start == 0) {
        if (!IsKeyword(first, part)) return false;
      } else if (at == words_.size() || !IsKeyword(words_[at++], part)) {
        return false;
      }
      if (end == phrase.size()) break;
      start = end + 1;
    }
    at_ = at;
    return true;
  }

 private:
  const std::vector<Word>& words_;
  std::size_t at_ = 0;
};

// What every verb takes besides its own keywords.
struct Flags {
  bool wait = false;  // the reply waits until the verb is done
};

// Reads the keywords after the device name: "wait" and "notify" here, for
// every verb, and each other keyword through `take`, which reads that
// keyword's values from `words`. Stops at the first failure. A notification
// goes to a window, and this service has none: "notify" is taken and
// nothing is posted, as Windows' own service does for a command that names
// no window.
template <typename Take>
Result ReadKeywords(const Command& c, Flags& flags, Take take) {
  Words words(c.words);
  while (!words.Done()) {
    const Word& w = words.Next();
    if (IsKeyword(w, "wait")) {
      flags.wait = true;
    } else if (IsKeyword(w, "notify")) {
      continue;
    } else if (Result r = take(w, words); r.error) {
      return r;
    }
  }
  return Ok();
}

// The `take` of a verb with no keywords of its own.
Result NoKeyword(const Word&, Words&) {
  return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
}

// Reads a number given once as the value of its keyword.
Result TakeNumber(Words& words, std::optional<std::uint32_t>& value) {
  if (value) return Fail(MCIERR_DUPLICATE_FLAGS);
  Word number;
  if (!words.TakeValue(number)) return Fail(MCIERR_MISSING_PARAMETER);
  std::uint32_t v = 0;
  if (MCIERROR e = ParseNumber(number, v)) return Fail(e);
  value = v;
  return Ok();
}

// Reads the second word of a keyword of two ("time format").
bool TakeSecondWord(Words& words, std::string_view second) {
  Word w;
  return words.TakeValue(w) && IsKeyword(w, second);
}

Result Open(Devices& devices, const Command& c) {
  std::optional<std::string> type, alias;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    if (!IsKeyword(w, "type") && !IsKeyword(w, "alias"))
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    std::optional<std::string>& value = IsKeyword(w, "type") ? type : alias;
    if (value) return Fail(MCIERR_DUPLICATE_FLAGS);
    Word v;
    if (!words.TakeValue(v)) return Fail(MCIERR_MISSING_STRING_ARGUMENT);
    value = v.text;
    return Ok();
  });
  if (r.error) return r;
  return devices.Open(c.device, type, alias);
}

Result Close(Devices& devices, const Command& c) {
  Flags flags;
  if (Result r = ReadKeywords(c, flags, NoKeyword); r.error) return r;
  return devices.Close(c.device);
}

Result Play(Devices& devices, const Command& c) {
  std::optional<std::uint32_t> from, to;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    if (IsKeyword(w, "from")) return TakeNumber(words, from);
    if (IsKeyword(w, "to")) return TakeNumber(words, to);
    return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
  });
  if (r.error) return r;
  DevicePtr device;
  if (r = devices.Find(c.device, device); r.error) return r;
  if (MCIERROR e = mci::PlayRangeError(from, to, device->Length()))
    return Fail(e);
  r = device->Play(from, to, nullptr);
  if (r.error != 0 || !flags.wait) return r;
  // A device another thread closes meanwhile is waited for no longer.
  mci::WaitWhilePlaying(*device, [&] { return devices.IsOpen(device); });
  return Ok();
}

Result Seek(Devices& devices, const Command& c) {
  std::optional<std::uint32_t> target;
  bool to_end = false;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    if (!IsKeyword(w, "to")) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    if (target || to_end) return Fail(MCIERR_DUPLICATE_FLAGS);
    Word where;
    if (!words.TakeValue(where)) return Fail(MCIERR_MISSING_PARAMETER);
    if (IsKeyword(where, "start")) {
      target = 0;
    } else if (IsKeyword(where, "end")) {
      to_end = true;
    } else {
      std::uint32_t v = 0;
      if (MCIERROR e = ParseNumber(where, v)) return Fail(e);
      target = v;
    }
    return Ok();
  });
  if (r.error) return r;
  if (!target && !to_end) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  if (r = devices.Find(c.device, device); r.error) return r;
  const std::uint32_t length = device->Length();
  if (to_end) target = length;
  if (*target > length) return Fail(MCIERR_OUTOFRANGE);
  return device->Seek(*target);
}

// Milliseconds are the one time format of every device here.
Result Set(Devices& devices, const Command& c) {
  bool time_format = false;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    if (!IsKeyword(w, "time") || !TakeSecondWord(words, "format"))
      return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    Word format;
    if (!words.TakeValue(format)) return Fail(MCIERR_MISSING_PARAMETER);
    if (!IsKeyword(format, "milliseconds") && !IsKeyword(format, "ms"))
      return Fail(MCIERR_BAD_TIME_FORMAT);
    if (time_format) return Fail(MCIERR_DUPLICATE_FLAGS);
    time_format = true;
    return Ok();
  });
  if (r.error) return r;
  if (!time_format) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  return devices.Find(c.device, device);
}

// A piece is track 1: with "track 1", its position is the track's start
// and its length the piece's.
Result Status(Devices& devices, const Command& c) {
  enum class Item {
    kNone,
    kMode,
    kPosition,
    kLength,
    kReady,
    kTimeFormat,
    kTracks,
    kCurrentTrack,
    kMediaPresent
  };
  constexpr std::pair<std::string_view, Item> kItems[] = {
      {"mode", Item::kMode},
      {"position", Item::kPosition},
      {"length", Item::kLength},
      {"ready", Item::kReady},
      {"time format", Item::kTimeFormat},
      {"number of tracks", Item::kTracks},
      {"current track", Item::kCurrentTrack},
      {"media present", Item::kMediaPresent}};
  Item item = Item::kNone;
  bool start = false;
  std::optional<std::uint32_t> track;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    if (IsKeyword(w, "start")) {
      start = true;
      return Ok();
    }
    if (IsKeyword(w, "track")) return TakeNumber(words, track);
    Item found = Item::kNone;
    for (const auto& [name, value] : kItems)
      if (found == Item::kNone && words.TakePhrase(w, name)) found = value;
    if (found == Item::kNone) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    if (item != Item::kNone) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
    item = found;
    return Ok();
  });
  if (r.error) return r;
  if (item == Item::kNone) return Fail(MCIERR_MISSING_PARAMETER);
  if (track && start) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
  if (track && (*track < 1 || *track > mci::kTracks))
    return Fail(MCIERR_OUTOFRANGE);
  DevicePtr device;
  if (r = devices.Find(c.device, device); r.error) return r;
  const auto number = [](std::uint32_t n) {
    return Result{0, std::to_string(n)};
  };
  switch (item) {
    case Item::kMode: return {0, std::string(mci::ModeName(device->GetMode()))};
    case Item::kPosition:
      return number(track || start ? 0 : device->Position());
    case Item::kLength: return number(device->Length());
    case Item::kReady:
      return {0, device->GetMode() == Mode::kNotReady ? "false" : "true"};
    case Item::kTimeFormat: return {0, "milliseconds"};
    case Item::kTracks: return number(mci::kTracks);
    case Item::kCurrentTrack: return number(1);
    case Item::kMediaPresent: return {0, "true"};
    case Item::kNone: break;
  }
  return Fail(MCIERR_INTERNAL);
}

Result Capability(Devices& devices, const Command& c) {
  std::optional<mci::Capability> item;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    for (const auto& [name, value] : mci::kCapabilities) {
      if (!words.TakePhrase(w, name)) continue;
      if (item) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
      item = value;
      return Ok();
    }
    return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
  });
  if (r.error) return r;
  if (!item) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  if (r = devices.Find(c.device, device); r.error) return r;
  if (*item == mci::Capability::kDeviceType)
    return {0, std::string(mci::kDeviceTypeWord)};
  return {0, mci::Has(*item) ? "true" : "false"};
}

Result Info(Devices& devices, const Command& c) {
  bool product = false, file = false;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words&) {
    if (IsKeyword(w, "product") && !product) {
      product = true;
    } else if (IsKeyword(w, "file") && !file) {
      file = true;
    } else {
      return Fail(IsKeyword(w, "product") || IsKeyword(w, "file")
                      ? MCIERR_DUPLICATE_FLAGS
                      : MCIERR_UNRECOGNIZED_KEYWORD);
    }
    return Ok();
  });
  if (r.error) return r;
  if (!product && !file) return Fail(MCIERR_MISSING_PARAMETER);
  if (product && file) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
  DevicePtr device;
  std::string element;
  if (r = devices.Find(c.device, device, &element); r.error) return r;
  return {0, product ? device->Product() : element};
}

// A verb that takes no keyword of its own and hands on to the device.
Result OnDevice(Devices& devices, const Command& c,
                Result (mci::Device::*call)()) {
  Flags flags;
  if (Result r = ReadKeywords(c, flags, NoKeyword); r.error) return r;
  DevicePtr device;
  if (Result r = devices.Find(c.device, device); r.error) return r;
  return ((*device).*call)();
}

struct Verb {
  std::string_view name;
  Result (*run)(Devices& devices, const Command& c);
};

constexpr Verb kVerbs[] = {
    {"open", Open},
    {"close", Close},
    {"play", Play},
    {"seek", Seek},
    {"set", Set},
    {"status", Status},
    {"capability", Capability},
    {"info", Info},
    {"stop",
     [](Devices& d, const Command& c) {
       return OnDevice(d, c, &mci::Device::Stop);
     }},
    {"pause",
     [](Devices& d, const Command& c) {
       return OnDevice(d, c, &mci::Device::Pause);
     }},
    {"resume",
     [](Devices& d, const Command& c) {
       return OnDevice(d, c, &mci::Device::Resume);
     }},
};

}  // namespace

Result Execute(Devices& devices, const Command& command) {
  for (const Verb& verb : kVerbs)
    if (command.verb == verb.name) return verb.run(devices, command);
  return Fail(MCIERR_UNRECOGNIZED_COMMAND);
}

}  // namespace winmm
