#include "winmm/verbs.h"

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

 private:
  const std::vector<Word>& words_;
  std::size_t at_ = 0;
};

// What every verb takes besides its own keywords.
struct Flags {
  bool wait = false;  // the reply waits until the verb is done
};

// A notification is posted to a window, and a console program has none:
// "notify" is refused where it stands among the keywords.
Result NotifyError() {
  return Fail(MCIERR_UNSUPPORTED_FUNCTION,
              "Notification needs a window; this service has none to post to.");
}

// Reads the keywords after the device name: "wait" and "notify" here, for
// every verb, and each other keyword through `take`, which reads that
// keyword's values from `words`. Stops at the first failure.
template <typename Take>
Result ReadKeywords(const Command& c, Flags& flags, Take take) {
  Words words(c.words);
  while (!words.Done()) {
    const Word& w = words.Next();
    if (IsKeyword(w, "wait")) {
      flags.wait = true;
    } else if (IsKeyword(w, "notify")) {
      return NotifyError();
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
  r = device->Play(from, to);
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

Result Status(Devices& devices, const Command& c) {
  enum class Item { kNone, kMode, kPosition, kLength, kReady, kTimeFormat };
  constexpr std::pair<std::string_view, Item> kItems[] = {
      {"mode", Item::kMode},
      {"position", Item::kPosition},
      {"length", Item::kLength},
      {"ready", Item::kReady}};
  Item item = Item::kNone;
  Flags flags;
  Result r = ReadKeywords(c, flags, [&](const Word& w, Words& words) {
    Item found = Item::kNone;
    for (const auto& [name, value] : kItems)
      if (IsKeyword(w, name)) found = value;
    if (IsKeyword(w, "time") && TakeSecondWord(words, "format"))
      found = Item::kTimeFormat;
    if (found == Item::kNone) return Fail(MCIERR_UNRECOGNIZED_KEYWORD);
    if (item != Item::kNone) return Fail(MCIERR_FLAGS_NOT_COMPATIBLE);
    item = found;
    return Ok();
  });
  if (r.error) return r;
  if (item == Item::kNone) return Fail(MCIERR_MISSING_PARAMETER);
  DevicePtr device;
  if (r = devices.Find(c.device, device); r.error) return r;
  switch (item) {
    case Item::kMode: return {0, std::string(mci::ModeName(device->GetMode()))};
    case Item::kPosition: return {0, std::to_string(device->Position())};
    case Item::kLength: return {0, std::to_string(device->Length())};
    case Item::kReady:
      return {0, device->GetMode() == Mode::kNotReady ? "false" : "true"};
    case Item::kTimeFormat: return {0, "milliseconds"};
    case Item::kNone: break;
  }
  return Fail(MCIERR_INTERNAL);
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
