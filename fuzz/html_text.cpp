// HTML mail parts to text through libxml2's HTML parser, over arbitrary
// bytes (made UTF-8 first, as the mail-access program does). The text is
// UTF-8, has line feeds only and no non-breaking spaces left.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emailaccess/message/html_text.h"
#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"

using fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string html = emailaccess::Utf8OrWindows1252(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = emailaccess::HtmlToText(html);
  Require(emailaccess::IsValidUtf8(text), "text is UTF-8");
  Require(text.find('\r') == std::string::npos, "text has line feeds only");
  Require(text.find("\xC2\xA0") == std::string::npos, "non-breaking spaces became spaces");
  Require(text.empty() || (text.front() != '\n' && text.back() != '\n'), "no blank lines at the ends");
  Require(text.find("\n\n\n") == std::string::npos, "at most one empty line in a row");
  return 0;
}
