// The tags of one reply body, found in one pass: a reply of thousands of
// numbered answers is read in time linear in its size, where searching the
// body from its start for every tag took time in the square of it. The
// values are exactly those of the searching readers in util/identifiers.h
// (GetTagValue, TypedTagValue, ExtractFromTypedLines): the first opening and
// the first closing tag, leading spaces removed, and the typed-value rules.
// No state beyond the index; nothing here throws but std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What a person's typing leaves around a value: spaces, tabs, line breaks and
// the UTF-8 non-breaking space that HTML editors put where a space would
// collapse. Shared by the searching readers and the index.
namespace tag_blanks {

// True when `text` is nothing but blanks (or empty).
bool IsBlank(std::string_view text);
// `text` less the blanks at both of its ends.
std::string WithoutOuterBlanks(std::string_view text);
// The end of the blanks that start at `from` (`from` itself when none).
std::size_t BlanksEnd(std::string_view text, std::size_t from);

}  // namespace tag_blanks

class TagIndex {
 public:
  // Indexes every "<name>" and "</name>" of `text` whose name is letters and
  // digits (every tag the forms write). `text` is not copied and must
  // outlive the index.
  explicit TagIndex(std::string_view text);

  // As GetTagValue(text, name, value). `name` must be letters and digits.
  bool Value(std::string_view name, std::string& value) const;
  // As TypedTagValue(text, name).
  std::string TypedValue(std::string_view name) const;
  // As ExtractFromTypedLines(text, "<name>", "</name>").
  std::string ValueOnTypedLine(std::string_view name) const;

 private:
  struct Places {
    std::vector<std::size_t> opens;   // where each "<name>" starts, ascending
    std::vector<std::size_t> closes;  // where each "</name>" starts, ascending
  };
  const Places* Find(std::string_view name) const;
  // The first closing tag at or after `from`, or npos.
  static std::size_t CloseFrom(const Places& places, std::size_t from);
  // The text between an opening tag of `name` ending at `begin` and `closeAt`,
  // less its leading spaces.
  std::string_view Between(std::size_t begin, std::size_t closeAt) const;

  std::string_view m_text;
  std::unordered_map<std::string_view, Places> m_tags;
};
