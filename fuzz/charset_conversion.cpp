// Character sets: a declared charset (the input's first line, as a mail
// part's header would carry it) and the part's bytes (the rest). Whatever
// the label and the bytes, the result is UTF-8, text that is already UTF-8
// and labelled loosely stays as it is, and the helpers that shape header
// lines and flowed text keep to their forms.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emailaccess/message/body_text.h"
#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"

using fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\n');
  const std::string_view label = cut == std::string_view::npos ? std::string_view() : input.substr(0, std::min<size_t>(cut, 64));
  const std::string_view bytes = cut == std::string_view::npos ? input : input.substr(cut + 1);

  const std::string converted = emailaccess::CharsetToUtf8(bytes, label);
  Require(emailaccess::IsValidUtf8(converted), "declared charset to UTF-8");
  for (const char* loose : {"", "iso-8859-1", "us-ascii"}) {
    const std::string text = emailaccess::CharsetToUtf8(bytes, loose);
    Require(emailaccess::IsValidUtf8(text), "loose label to UTF-8");
    if (emailaccess::IsValidUtf8(bytes)) Require(text == bytes, "valid UTF-8 under a loose label stays");
  }
  Require(emailaccess::IsValidUtf8(emailaccess::CharsetToUtf8(bytes, "utf-8")), "repaired UTF-8");
  const std::string cp1252 = emailaccess::Windows1252ToUtf8(bytes);
  Require(emailaccess::IsValidUtf8(cp1252), "Windows-1252 to UTF-8");
  Require(emailaccess::CharsetToUtf8(bytes, "windows-1252") == cp1252, "windows-1252 label");

  const std::string utf8 = emailaccess::Utf8OrWindows1252(bytes);
  Require(emailaccess::IsValidUtf8(utf8), "UTF-8 or Windows-1252");
  Require(emailaccess::ContainsIgnoringCase(utf8, utf8), "a text contains itself");
  Require(emailaccess::ContainsIgnoringCase(bytes, ""), "everything contains the empty text");
  emailaccess::ContainsIgnoringCase(bytes, label);

  const std::string line = emailaccess::SingleLine(bytes);
  Require(line.find_first_of("\r\n\t") == std::string::npos, "a header line has no breaks");

  const std::string flowed = emailaccess::UnflowText(emailaccess::CrlfToLf(utf8), bytes.size() % 2 == 0);
  Require(emailaccess::IsValidUtf8(flowed), "unflowing keeps UTF-8");
  Require(flowed.size() <= utf8.size() + utf8.size() / 2 + 1, "unflowing does not grow the text much");
  return 0;
}
