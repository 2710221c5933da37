#include "util/tag_index.h"

#include <algorithm>

namespace {

// The UTF-8 non-breaking space.
constexpr std::string_view kNbsp = "\xC2\xA0";

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The length of the blank that starts at `at` (0 when none).
std::size_t BlankAt(std::string_view text, std::size_t at) {
  if (IsBlankByte(text[at])) return 1;
  return text.compare(at, 2, kNbsp) == 0 ? 2 : 0;
}

// The length of the blank that ends at `end` (0 when none).
std::size_t BlankBefore(std::string_view text, std::size_t end) {
  if (IsBlankByte(text[end - 1])) return 1;
  return end >= 2 && text.compare(end - 2, 2, kNbsp) == 0 ? 2 : 0;
}

bool IsNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

std::size_t tag_blanks::BlanksEnd(std::string_view text, std::size_t from) {
  while (from < text.size()) {
    const std::size_t n = BlankAt(text, from);
    if (n == 0) break;
    from += n;
  }
  return from;
}

bool tag_blanks::IsBlank(std::string_view text) { return BlanksEnd(text, 0) == text.size(); }

std::string tag_blanks::WithoutOuterBlanks(std::string_view text) {
  const std::size_t begin = BlanksEnd(text, 0);
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t n = BlankBefore(text, end);
    if (n == 0) break;
    end -= n;
  }
  return std::string(text.substr(begin, end - begin));
}

TagIndex::TagIndex(std::string_view text) : m_text(text) {
  const std::size_t size = text.size();
  // A name holds no '<', so every byte is read for one '<' at most.
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    std::size_t p = at + 1;
    const bool closing = p < size && text[p] == '/';
    if (closing) ++p;
    const std::size_t nameStart = p;
    while (p < size && IsNameChar(text[p])) ++p;
    if (p == nameStart || p >= size || text[p] != '>') continue;
    Places& places = m_tags[text.substr(nameStart, p - nameStart)];
    (closing ? places.closes : places.opens).push_back(at);
  }
}

const TagIndex::Places* TagIndex::Find(std::string_view name) const {
  const auto found = m_tags.find(name);
  if (found == m_tags.end() || found->second.opens.empty() || found->second.closes.empty()) return nullptr;
  return &found->second;
}

std::size_t TagIndex::CloseFrom(const Places& places, std::size_t from) {
  const auto close = std::lower_bound(places.closes.begin(), places.closes.end(), from);
  return close == places.closes.end() ? std::string_view::npos : *close;
}

std::string_view TagIndex::Between(std::size_t begin, std::size_t closeAt) const {
  std::size_t first = begin;
  while (first < closeAt && m_text[first] == ' ') ++first;
  return m_text.substr(first, closeAt - first);
}

bool TagIndex::Value(std::string_view name, std::string& value) const {
  value.clear();
  const Places* places = Find(name);
  if (!places) return false;
  const std::size_t begin = places->opens.front() + name.size() + 2;
  // A closing tag cannot start inside its opening tag: one before it stands
  // before the opening tag, and the value runs to the end of the text.
  const std::size_t close = places->closes.front();
  value = Between(begin, close < begin ? m_text.size() : close);
  return true;
}

std::string TagIndex::TypedValue(std::string_view name) const {
  const Places* places = Find(name);
  if (!places) return {};
  const std::size_t openLength = name.size() + 2;
  const std::vector<std::size_t>& opens = places->opens;
  if (places->closes.front() < opens.front()) {
    // The first value runs to the end of the text, and no later pair counts.
    const std::string_view value = Between(opens.front() + openLength, m_text.size());
    return tag_blanks::IsBlank(value) ? std::string() : tag_blanks::WithoutOuterBlanks(value);
  }
  // The first pair is the one Value reads; then each next opening tag after
  // the closing tag of the pair before, with the first closing tag after it.
  // The blanks read after different opening tags never overlap.
  for (auto open = opens.begin(); open != opens.end();) {
    const std::size_t begin = *open + openLength;
    const std::size_t closeAt = CloseFrom(*places, begin);
    if (closeAt == std::string_view::npos) break;
    const std::string_view value = Between(begin, closeAt);
    if (!tag_blanks::IsBlank(value)) return tag_blanks::WithoutOuterBlanks(value);
    open = std::lower_bound(open, opens.end(), closeAt + openLength + 1);
  }
  return {};
}

std::string TagIndex::ValueOnTypedLine(std::string_view name) const {
  const Places* places = Find(name);
  if (!places) return {};
  const std::size_t openLength = name.size() + 2;
  const std::vector<std::size_t>& opens = places->opens;
  // The line of each pair is followed forward from the previous one: where
  // the current line starts, and where its text does.
  std::size_t scanned = 0;
  std::size_t lineStart = 0;
  std::size_t lineText = std::string_view::npos;
  for (auto open = opens.begin(); open != opens.end();) {
    const std::size_t openAt = *open;
    const std::size_t begin = openAt + openLength;
    const std::size_t closeAt = CloseFrom(*places, begin);
    if (closeAt == std::string_view::npos) break;
    for (; scanned < openAt; ++scanned) {
      if (m_text[scanned] == '\r' || m_text[scanned] == '\n') {
        lineStart = scanned + 1;
        lineText = std::string_view::npos;
      }
    }
    if (lineText == std::string_view::npos) {
      lineText = lineStart;
      while (lineText < openAt && (m_text[lineText] == ' ' || m_text[lineText] == '\t')) ++lineText;
    }
    // A quoted line, or the instructions' example, is not the writer's.
    const bool quotedOrExample =
        lineText < openAt && (m_text[lineText] == '>' || m_text.compare(lineText, 8, "Example:") == 0);
    const std::string_view value = Between(begin, closeAt);
    if (!quotedOrExample && !tag_blanks::IsBlank(value)) return tag_blanks::WithoutOuterBlanks(value);
    open = std::lower_bound(open, opens.end(), closeAt + openLength + 1);
  }
  return {};
}
