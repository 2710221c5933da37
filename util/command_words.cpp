#include "util/command_words.h"

namespace command_words {

bool Split(std::string_view text, std::vector<std::string>& words) {
  words.clear();
  bool inWord = false, quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      if (!inWord) words.emplace_back();
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      inWord = false;
    } else {
      if (!inWord) words.emplace_back();
      inWord = true;
      words.back() += c;
    }
  }
  return !quoted;
}

}  // namespace command_words
