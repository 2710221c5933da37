// What the fuzz targets share: a check that stops the run with a readable
// reason (libFuzzer then keeps the input), and the checks of texts that
// several targets compare against.
//
// Header-only, no state. Require() aborts, so a broken property is reported
// exactly like a crash, with the input saved as crash-<hash>.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/incoming.h"

namespace fuzzing {

inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// Every CR is followed by LF and every LF follows a CR.
inline bool IsCanonicalCrlf(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

using Record = exchange::IncomingRecord;

// Values cut from raw bytes: the pieces between `separator`s, at most
// `limit` of them.
inline std::vector<std::string> Fields(std::string_view text, char separator, size_t limit) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (pos <= text.size() && fields.size() < limit) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    fields.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return fields;
}

// A value as LvMAPI gets it back from an element: its leading blanks gone.
inline std::string WithoutLeadingBlanks(std::string value) {
  value.erase(0, value.find_first_not_of(' ') == std::string::npos ? value.size() : value.find_first_not_of(' '));
  return value;
}

}  // namespace fuzzing
