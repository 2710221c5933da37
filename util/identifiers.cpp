#include "util/identifiers.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "platform/guid.h"
#include "util/tag_index.h"

std::string NewGuidString() { return platform::NewRegistryGuid(); }

namespace {

std::string StripBraces(const std::string& id) {
  std::string s = id;
  if (!s.empty() && s.back() == '}') s.pop_back();
  if (!s.empty() && s.front() == '{') s.erase(0, 1);
  return s;
}

using tag_blanks::IsBlank;
using tag_blanks::WithoutOuterBlanks;

// The pair of tags that starts at or after `from`: an opening tag and the
// first closing tag after it. `value` is what lies between them, less its
// leading spaces; `after` is the end of the closing tag.
bool NextPair(const std::string& text, const std::string& openTag, const std::string& closeTag, size_t from,
              size_t& openAt, std::string& value, size_t& after) {
  openAt = text.find(openTag, from);
  if (openAt == std::string::npos) return false;
  const size_t begin = openAt + openTag.size();
  const size_t closeAt = text.find(closeTag, begin);
  if (closeAt == std::string::npos) return false;
  const size_t first = std::min(text.find_first_not_of(' ', begin), closeAt);
  value.assign(text, first, closeAt - first);
  after = closeAt + closeTag.size();
  return true;
}

// True when the line that holds `pos` is quoted, or is the instructions'
// example (its text before `pos` starts "Example:").
bool OnQuotedOrExampleLine(const std::string& text, size_t pos) {
  const size_t lineBreak = text.find_last_of("\r\n", pos);
  const size_t lineStart = lineBreak == std::string::npos ? 0 : lineBreak + 1;
  const size_t first = text.find_first_not_of(" \t", lineStart);
  if (first >= pos) return false;
  return text[first] == '>' || text.compare(first, 8, "Example:") == 0;
}

}  // namespace

std::string GuidKey(const std::string& id) {
  std::string key = StripBraces(id);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

bool SameGuid(const std::string& a, const std::string& b) { return GuidKey(a) == GuidKey(b); }

std::string_view MailAddressOf(std::string_view mailbox) {
  const size_t open = mailbox.rfind('<');
  if (open != std::string_view::npos) {
    const size_t close = mailbox.find('>', open);
    if (close != std::string_view::npos) mailbox = mailbox.substr(open + 1, close - open - 1);
  }
  const size_t first = mailbox.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return mailbox.substr(first, mailbox.find_last_not_of(" \t\r\n") - first + 1);
}

bool SameMailAddress(std::string_view a, std::string_view b) {
  a = MailAddressOf(a);
  b = MailAddressOf(b);
  const size_t at = a.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == a.size() || a.size() != b.size() ||
      b.rfind('@') != at || a.compare(0, at, b, 0, at) != 0) {
    return false;
  }
  for (size_t i = at + 1; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool ExtractBetween(const std::string& text, const std::string& openTag, const std::string& closeTag,
                    std::string& value) {
  value.clear();
  size_t open = text.find(openTag);
  if (open == std::string::npos) return false;
  size_t close = text.find(closeTag);
  if (close == std::string::npos) return false;
  size_t begin = open + openTag.size();
  size_t end = close < begin ? text.size() : close;
  size_t first = text.find_first_not_of(' ', begin);
  if (first == std::string::npos || first >= end) return true;
  value.assign(text, first, end - first);
  return true;
}

std::string ExtractTypedValue(const std::string& text, const std::string& openTag, const std::string& closeTag) {
  std::string value;
  ExtractBetween(text, openTag, closeTag, value);
  if (!IsBlank(value)) return WithoutOuterBlanks(value);
  // Later pairs count only where the first one is a pair: when the first
  // closing tag stands before the first opening tag, the first value already
  // ran to the end of the text.
  size_t openAt = 0;
  size_t after = 0;
  if (!NextPair(text, openTag, closeTag, 0, openAt, value, after) || text.find(closeTag) < openAt + openTag.size()) {
    return {};
  }
  while (NextPair(text, openTag, closeTag, after, openAt, value, after)) {
    if (!IsBlank(value)) return WithoutOuterBlanks(value);
  }
  return {};
}

std::string ExtractFromTypedLines(const std::string& text, const std::string& openTag, const std::string& closeTag) {
  std::string value;
  size_t openAt = 0;
  for (size_t from = 0; NextPair(text, openTag, closeTag, from, openAt, value, from);) {
    if (!OnQuotedOrExampleLine(text, openAt) && !IsBlank(value)) return WithoutOuterBlanks(value);
  }
  return {};
}

bool GetTagValue(const std::string& text, const std::string& name, std::string& value) {
  return ExtractBetween(text, "<" + name + ">", "</" + name + ">", value);
}

std::string TypedTagValue(const std::string& text, const std::string& name) {
  return ExtractTypedValue(text, "<" + name + ">", "</" + name + ">");
}

std::string WithQuotesDoubled(std::string text) {
  DoubleSingleQuotes(text);
  return text;
}

int32_t LeadingInteger(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool HasLeadingInteger(const std::string& text) {
  char* end = nullptr;
  std::strtol(text.c_str(), &end, 10);
  return end != text.c_str();
}

void DoubleSingleQuotes(std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  text.swap(out);
}
