#include "exchange/hand_back.h"

#include <charconv>

namespace exchange {
namespace {

constexpr std::string_view kHeader = "# LvMAPI hand-back: reply number, stored or unread\n";
constexpr std::string_view kStored = "stored";
constexpr std::string_view kUnread = "unread";

}  // namespace

std::string HandBackPath(const std::string& exchangeFile) { return exchangeFile + kHandBackSuffix; }

std::string FormatHandBack(const std::vector<bool>& stored) {
  std::string text(kHeader);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    text += std::to_string(i + 1) + "\t" + std::string(stored[i] ? kStored : kUnread) + "\n";
  }
  return text;
}

bool ParseHandBack(std::string_view text, std::map<int, bool>& stored) {
  stored.clear();
  if (!text.starts_with(kHeader)) return false;
  text.remove_prefix(kHeader.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0) continue;
    int number = 0;
    const auto [rest, error] = std::from_chars(line.data(), line.data() + tab, number);
    if (error != std::errc() || rest != line.data() + tab || number < 1) continue;
    const std::string_view word = line.substr(tab + 1);
    if (word == kStored || word == kUnread) stored[number] = word == kStored;
  }
  return true;
}

}  // namespace exchange
