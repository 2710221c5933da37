#include "util/identifiers.h"

#include <cctype>

#include "platform/guid.h"

std::string NewGuidString() { return platform::NewRegistryGuid(); }

namespace {

std::string StripBraces(const std::string& id) {
  std::string s = id;
  if (!s.empty() && s.back() == '}') s.pop_back();
  if (!s.empty() && s.front() == '{') s.erase(0, 1);
  return s;
}

}  // namespace

bool SameGuid(const std::string& a, const std::string& b) {
  std::string x = StripBraces(a);
  std::string y = StripBraces(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(x[i])) != std::tolower(static_cast<unsigned char>(y[i]))) return false;
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

void DoubleSingleQuotes(std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  text.swap(out);
}
