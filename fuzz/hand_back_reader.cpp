// The hand-back reader over arbitrary bytes: it never names a reply below 1,
// keeps only what a well-formed line says (checked against an independent
// reading of the lines), and gives back exactly what the writer wrote.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "exchange/hand_back.h"

namespace {

using fuzzing::Require;

// The last word of every line "<digits><TAB>stored|unread" after the first
// line, worked out without the reader.
std::map<long long, bool> LinesByHand(const std::string& text) {
  std::map<long long, bool> told;
  size_t pos = text.find('\n');
  while (pos != std::string::npos && pos < text.size()) {
    const size_t begin = pos + 1;
    size_t end = text.find('\n', begin);
    pos = end;
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0) continue;
    std::string digits = line.substr(0, tab);
    const std::string word = line.substr(tab + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    if (word != "stored" && word != "unread") continue;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > 10) continue;  // beyond any reply number
    const long long number = digits.empty() ? 0 : std::stoll(digits);
    if (number >= 1 && number <= 2147483647LL) told[number] = word == "stored";
  }
  return told;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::map<int, bool> stored;
  const std::string header = exchange::FormatHandBack({});
  for (const std::string& text : {input, header + input}) {
    const bool read = exchange::ParseHandBack(text, stored);
    Require(read == text.starts_with(header), "read exactly when the header opens the text");
    if (!read) {
      Require(stored.empty(), "nothing told by a text that is not a hand-back");
      continue;
    }
    for (const auto& [number, word] : stored) Require(number >= 1, "replies are numbered from 1");
    const std::map<long long, bool> byHand = LinesByHand(text);
    for (const auto& [number, word] : byHand) {
      const auto found = stored.find(static_cast<int>(number));
      Require(found != stored.end() && found->second == word, "every well-formed line is read, the last one wins");
    }
    Require(stored.size() <= byHand.size(), "nothing is read that no line says");
  }

  // What the writer writes is read back unchanged.
  std::vector<bool> words;
  for (unsigned char c : input) words.push_back(c & 1);
  std::map<int, bool> back;
  Require(exchange::ParseHandBack(exchange::FormatHandBack(words), back), "the writer's text is a hand-back");
  Require(back.size() == words.size(), "one entry per reply");
  for (size_t i = 0; i < words.size(); ++i) Require(back[static_cast<int>(i) + 1] == words[i], "each word kept");
  return 0;
}
