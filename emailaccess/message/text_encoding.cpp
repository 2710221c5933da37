#include "emailaccess/message/text_encoding.h"

#include "emailaccess/message/gmime_support.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace emailaccess {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; 0 marks the undefined
// ones. 0xA0..0xFF equal their Unicode code points.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Labels under which mail programs send Windows-1252 text as often as the
// charset they name.
bool IsLooseLatinLabel(const std::string& charset) {
  static const char* const kLabels[] = {"",          "iso-8859-1", "iso8859-1", "iso_8859-1", "iso_8859-1:1987",
                                        "latin1",    "l1",         "cp819",     "ibm819",     "iso-ir-100",
                                        "us-ascii",  "ascii",      "us",        "ansi_x3.4-1968", "iso646-us"};
  return std::find(std::begin(kLabels), std::end(kLabels), charset) != std::end(kLabels);
}

bool IsWindows1252Label(const std::string& charset) {
  return charset == "windows-1252" || charset == "cp1252" || charset == "x-cp1252" || charset == "cp-1252";
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  // Mail is mostly ASCII: that start is passed over eight bytes at a time.
  size_t start = 0;
  for (std::uint64_t word = 0; start + sizeof word <= text.size(); start += sizeof word) {
    std::memcpy(&word, text.data() + start, sizeof word);
    if (word & 0x8080808080808080ULL) break;
  }
  // GLib refuses NUL bytes, but U+0000 is valid UTF-8: a stray NUL in a text
  // must not make the rest of it be read as Windows-1252.
  for (;;) {
    const size_t nul = text.find('\0', start);
    const std::string_view piece = text.substr(start, nul == std::string_view::npos ? std::string_view::npos : nul - start);
    if (!g_utf8_validate_len(piece.data(), static_cast<gsize>(piece.size()), nullptr)) return false;
    if (nul == std::string_view::npos) return true;
    start = nul + 1;
  }
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0xA0) {
      char32_t mapped = kHighControls[c - 0x80];
      AppendUtf8(out, mapped ? mapped : 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::string Utf8OrWindows1252(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
}

std::string CanonicalCrlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  // Line by line: the text of a line goes over in one piece, and only a line
  // with a CR inside is looked at byte by byte.
  for (size_t i = 0; i < text.size();) {
    size_t lineEnd = text.find('\n', i);
    const bool ended = lineEnd != std::string_view::npos;
    if (!ended) lineEnd = text.size();
    size_t crs = lineEnd;  // CRs before the LF belong to it
    while (ended && crs > i && text[crs - 1] == '\r') --crs;
    const std::string_view line = text.substr(i, crs - i);
    if (line.find('\r') == std::string_view::npos) {
      out.append(line);
    } else {
      for (char c : line) {
        if (c == '\r') {
          out += "\r\n";
        } else {
          out.push_back(c);
        }
      }
    }
    if (ended) out += "\r\n";
    i = ended ? lineEnd + 1 : text.size();
  }
  return out;
}

std::string SingleLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n' && c != '\t') {
      out.push_back(c);
    } else if (i == 0 || (text[i - 1] != '\r' && text[i - 1] != '\n' && text[i - 1] != '\t')) {
      out.push_back(' ');
    }
  }
  return out;
}

std::string CrlfToLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t cr = text.find("\r\n", i);
    if (cr == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, cr - i));
    i = cr + 1;  // the LF stays
  }
  return out;
}

std::string CharsetToUtf8(std::string_view bytes, std::string_view declaredCharset) {
  std::string charset = AsciiLower(declaredCharset);
  if (IsLooseLatinLabel(charset)) return Utf8OrWindows1252(bytes);
  if (IsWindows1252Label(charset)) return Windows1252ToUtf8(bytes);
  if (charset == "utf-8" || charset == "utf8") {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    GCharPtr repaired(g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size())));
    return repaired.get();
  }
  EnsureGMime();
  const char* iconvName = g_mime_charset_iconv_name(charset.c_str());
  gsize written = 0;
  GError* failure = nullptr;
  GCharPtr converted(g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", iconvName, nullptr,
                               &written, &failure));
  if (failure) g_error_free(failure);
  if (converted && IsValidUtf8(std::string_view(converted.get(), written))) {
    return std::string(converted.get(), written);
  }
  return Utf8OrWindows1252(bytes);
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool ContainsIgnoringCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return true;
  auto ascii = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  };
  if (ascii(haystack) && ascii(needle)) {
    // Unicode's case folding of ASCII is its lower case, and the folded
    // texts below end at a NUL byte: the same answer without two copies.
    haystack = haystack.substr(0, haystack.find('\0'));
    needle = needle.substr(0, needle.find('\0'));
    if (needle.empty()) return true;
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != haystack.end();
  }
  std::string safeHaystack = Utf8OrWindows1252(haystack);
  std::string safeNeedle = Utf8OrWindows1252(needle);
  GCharPtr foldedHaystack(g_utf8_casefold(safeHaystack.data(), static_cast<gssize>(safeHaystack.size())));
  GCharPtr foldedNeedle(g_utf8_casefold(safeNeedle.data(), static_cast<gssize>(safeNeedle.size())));
  return std::string_view(foldedHaystack.get()).find(foldedNeedle.get()) != std::string_view::npos;
}

}  // namespace emailaccess
