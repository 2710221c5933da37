// The line-break normalisers: LvMAPI's writer (NormalizeLineBreaks, whose
// exact three-pass result peers rely on, done in one pass with a shortcut for
// texts that need no change, and NormalizeLineBreaksInto, the same into a
// buffer kept from value to value) against a literal search-and-replace
// rendering of its rule, and the mail-access program's canonical CR LF,
// which must turn whatever the writer produced back into one CR LF per break.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"
#include "util/text_files.h"

namespace {

using fuzzing::Require;

// Replace-all as a string class does it: each search resumes right after the
// text it searched for, counted in the already changed text.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += from.size();
  }
}

std::string WithoutBreaks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

bool OnlyCrlfOrLf(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  std::string written = input;
  NormalizeLineBreaks(written);
  std::string reference = input;
  ReplaceAll(reference, "\n", "\n\r");
  ReplaceAll(reference, "\r\r", "\r");
  ReplaceAll(reference, "\n\r", "\r\n");
  Require(written == reference, "NormalizeLineBreaks equals its three replace-all passes");
  std::string reused = "what the buffer held before";
  NormalizeLineBreaksInto(input, reused);
  Require(reused == reference, "NormalizeLineBreaksInto gives the same into a buffer already in use");
  Require(LineBreaksNeedNormalizing(input) || reference == input,
          "a text taken as needing no change is left alone by the three passes");
  Require(WithoutBreaks(written) == WithoutBreaks(input), "the writer changes line breaks only");

  const std::string canonical = emailaccess::CanonicalCrlf(input);
  Require(fuzzing::IsCanonicalCrlf(canonical), "CanonicalCrlf leaves only CR LF");
  Require(WithoutBreaks(canonical) == WithoutBreaks(input), "CanonicalCrlf changes line breaks only");
  Require(emailaccess::CanonicalCrlf(canonical) == canonical, "CanonicalCrlf is idempotent");
  Require(emailaccess::CrlfToLf(canonical).find('\r') == std::string::npos, "CrlfToLf leaves no CR in canonical text");

  // Text whose breaks are LF or CR LF (what people and programs type) reaches
  // the mail-access program with the same breaks it had.
  if (OnlyCrlfOrLf(input)) {
    Require(emailaccess::CanonicalCrlf(written) == canonical, "writer then reader keeps every line break");
  }
  return 0;
}
