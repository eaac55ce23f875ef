#include "winmm/parse.h"

namespace winmm {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char LowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

bool IsKeyword(const Word& word, std::string_view keyword) {
  if (word.quoted || word.text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (LowerChar(word.text[i]) != LowerChar(keyword[i])) return false;
  return true;
}

MCIERROR ParseCommand(std::string_view text, Command& command) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    Word word;
    if (text[i] == '"') {
      std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) return MCIERR_NO_CLOSING_QUOTE;
      word.text = std::string(text.substr(i + 1, close - i - 1));
      word.quoted = true;
      i = close + 1;
    } else {
      std::size_t start = i;
      while (i < text.size() && !IsBlank(text[i])) ++i;
      word.text = std::string(text.substr(start, i - start));
    }
    words.push_back(std::move(word));
  }
  if (words.empty()) return MCIERR_MISSING_COMMAND_STRING;
  if (words.size() == 1) return MCIERR_MISSING_DEVICE_NAME;
  command.verb = Lower(words[0].text);
  command.device = std::move(words[1]);
  command.words.assign(std::make_move_iterator(words.begin() + 2),
                       std::make_move_iterator(words.end()));
  return 0;
}

MCIERROR ParseNumber(const Word& word, std::uint32_t& value) {
  if (word.text.empty()) return MCIERR_BAD_INTEGER;
  std::uint64_t v = 0;
  for (char c : word.text) {
    if (c < '0' || c > '9') return MCIERR_BAD_INTEGER;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu) return MCIERR_BAD_INTEGER;
  }
  value = static_cast<std::uint32_t>(v);
  return 0;
}

}  // namespace winmm
