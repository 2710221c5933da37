// The element syntax both exchange files share, and the one rule that keeps
// a value from opening or closing an element.
//
// An element is "<Name>value</Name>". The outgoing file's elements are
// Mailing, Recipient<n>, Email<n> and Body; the incoming file's Originator<n>,
// Date<n> and Body<n>. A tag of a file's own names ("<Body>", "</Email3>",
// with any digits after the name) never stands inside a value: the writer
// puts a blank after its "<" ("< Body>", "< /Email3>"). A tag that already
// has blanks after its "<" gets one more, and ReadValue takes one away, so
// the outgoing file gives back every value exactly as it was written, and
// a value without such text is written byte for byte. The incoming file
// breaks its tags the same way but is read as it stands: only an unbroken
// tag gets its blank there (NeutraliseTags), and a reply's text keeps it.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace exchange {

inline constexpr std::string_view kRecipient = "Recipient";
inline constexpr std::string_view kEmail = "Email";
inline constexpr std::string_view kBody = "Body";
inline constexpr std::string_view kMailing = "Mailing";
inline constexpr std::string_view kOriginator = "Originator";
inline constexpr std::string_view kDate = "Date";

using ElementNames = std::span<const std::string_view>;
inline constexpr std::array<std::string_view, 4> kOutgoingNames = {kRecipient, kEmail, kBody, kMailing};
inline constexpr std::array<std::string_view, 3> kIncomingNames = {kOriginator, kDate, kBody};

// "Email" and 3 give "Email3".
std::string NumberedName(std::string_view name, int number);

// A tag of one of `names` starting at `text[at]` (a "<"): "<", blanks, an
// optional "/", the name, decimal digits, ">".
struct TagAt {
  bool found = false;
  bool closing = false;
  std::size_t blanks = 0;   // blanks after the "<"
  std::string_view name;    // as in `names`
  std::string_view digits;  // may be empty
  std::size_t end = 0;      // just after the ">"
};
TagAt FindTagAt(std::string_view text, std::size_t at, ElementNames names);

// Appends "<tag>" + the value written as described above + "</tag>".
void AppendElement(std::string& out, std::string_view tag, std::string_view value, ElementNames names);

// A value as AppendElement wrote it, given back as it was.
std::string ReadValue(std::string_view written, ElementNames names);

// Breaks every unbroken tag of `names` in `value` by a blank after its "<";
// tags already broken stay as they are. Returns how many it broke.
std::size_t NeutraliseTags(std::string& value, ElementNames names);
// Appends `value` to `out` with its tags broken as NeutraliseTags breaks
// them, without copying it first. Returns how many it broke.
std::size_t AppendNeutralised(std::string& out, std::string_view value, ElementNames names);

}  // namespace exchange
