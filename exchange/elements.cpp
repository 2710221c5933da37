#include "exchange/elements.h"

#include <vector>

namespace exchange {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where a blank goes in (after the "<" of each tag with at least
// `minBlanks` blanks already), or goes out.
std::vector<std::size_t> TagStarts(std::string_view text, ElementNames names, std::size_t minBlanks,
                                   std::size_t maxBlanks = std::string_view::npos) {
  std::vector<std::size_t> starts;
  for (std::size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
    const TagAt tag = FindTagAt(text, i, names);
    if (tag.found && tag.blanks >= minBlanks && tag.blanks <= maxBlanks) starts.push_back(i);
  }
  return starts;
}

// `text` with a blank put in after each start.
void AppendWithBlanks(std::string& out, std::string_view text, const std::vector<std::size_t>& starts) {
  std::size_t from = 0;
  for (std::size_t start : starts) {
    out.append(text.substr(from, start + 1 - from));
    out.push_back(' ');
    from = start + 1;
  }
  out.append(text.substr(from));
}

}  // namespace

std::string NumberedName(std::string_view name, int number) { return std::string(name) + std::to_string(number); }

TagAt FindTagAt(std::string_view text, std::size_t at, ElementNames names) {
  TagAt tag;
  if (at >= text.size() || text[at] != '<') return tag;
  std::size_t p = at + 1;
  while (p < text.size() && text[p] == ' ') ++p;
  tag.blanks = p - at - 1;
  tag.closing = p < text.size() && text[p] == '/';
  if (tag.closing) ++p;
  for (std::string_view name : names) {
    if (text.compare(p, name.size(), name) != 0) continue;
    std::size_t q = p + name.size();
    while (q < text.size() && IsDigit(text[q])) ++q;
    if (q >= text.size() || text[q] != '>') return tag;
    tag.found = true;
    tag.name = name;
    tag.digits = text.substr(p + name.size(), q - p - name.size());
    tag.end = q + 1;
    return tag;
  }
  return tag;
}

void AppendElement(std::string& out, std::string_view tag, std::string_view value, ElementNames names) {
  out.append("<").append(tag).append(">");
  AppendWithBlanks(out, value, TagStarts(value, names, 0));
  out.append("</").append(tag).append(">");
}

std::string ReadValue(std::string_view written, ElementNames names) {
  std::string value;
  value.reserve(written.size());
  std::size_t from = 0;
  for (std::size_t start : TagStarts(written, names, 1)) {
    value.append(written.substr(from, start + 1 - from));
    from = start + 2;  // the blank the writer put in
  }
  value.append(written.substr(from));
  return value;
}

std::size_t NeutraliseTags(std::string& value, ElementNames names) {
  // Most values have no tag and are left untouched.
  const std::vector<std::size_t> starts = TagStarts(value, names, 0, 0);
  if (starts.empty()) return 0;
  std::string out;
  out.reserve(value.size() + starts.size());
  AppendWithBlanks(out, value, starts);
  value.swap(out);
  return starts.size();
}

std::size_t AppendNeutralised(std::string& out, std::string_view value, ElementNames names) {
  const std::vector<std::size_t> starts = TagStarts(value, names, 0, 0);
  AppendWithBlanks(out, value, starts);
  return starts.size();
}

}  // namespace exchange
