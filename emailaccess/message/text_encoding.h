// Character sets and line breaks of the texts that pass through the mail
// program.
//
// Everything the program hands on is UTF-8 with CR LF line breaks. These free
// functions get texts there from what arrives: files written in Windows-1252
// or UTF-8, mail parts in whatever charset they declare (or wrongly declare).
// None throws and none loses text: bytes that fit no charset become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace emailaccess {

bool IsValidUtf8(std::string_view text);

// Windows-1252, the code page of the application's own files, to UTF-8. The
// five bytes the code page leaves undefined become U+FFFD.
std::string Windows1252ToUtf8(std::string_view text);

// Text that is valid UTF-8 stays as it is; anything else is Windows-1252.
std::string Utf8OrWindows1252(std::string_view text);

// Makes every line break one CR LF: a run of CRs followed by LF is one break
// (the application's writer turns CR LF into CR CR LF), a lone LF is one
// break, and each CR not followed by LF is one break.
std::string CanonicalCrlf(std::string_view text);

// Text for one header line: every run of CR, LF and tab becomes one blank.
std::string SingleLine(std::string_view text);

// Every CR LF becomes LF (for libraries that want Unix text).
std::string CrlfToLf(std::string_view text);

// Decoded part content in its declared charset to UTF-8. A missing charset,
// ISO-8859-1 and US-ASCII mean UTF-8 when the bytes are valid UTF-8 and
// Windows-1252 otherwise, because mail programs often label text wrongly.
// A charset that cannot be converted falls back the same way.
std::string CharsetToUtf8(std::string_view bytes, std::string_view declaredCharset);

// `text` with its ASCII letters in lower case, every other byte as it is.
std::string AsciiLower(std::string_view text);

// True when `haystack` contains `needle`, letter case ignored (Unicode case
// folding, so "Ü" matches "ü"). Both are UTF-8. An empty needle is contained
// in everything.
bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle);

}  // namespace emailaccess
