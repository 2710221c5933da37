// What the fuzz targets share: a check that stops the run with a readable
// reason (libFuzzer then keeps the input), and the two readings of an
// exchange file that every target compares against.
//
// Header-only, no state. Require() aborts, so a broken property is reported
// exactly like a crash, with the input saved as crash-<hash>.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "mail/exchange.h"

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

struct Record {
  std::string originator, date, body;
};

// The incoming exchange file as LvMAPI reads it: records 1, 2, ... up to the
// first one that lacks an element. `limit` bounds the walk for huge inputs.
inline std::vector<Record> ReadRecordsAsLvMAPI(const std::string& text, size_t limit = 1000) {
  std::vector<Record> records;
  for (int n = 1; records.size() < limit; ++n) {
    Record r;
    if (!GetNumberedTagValue(text, "Originator", n, r.originator)) break;
    if (!GetNumberedTagValue(text, "Date", n, r.date)) break;
    if (!GetNumberedTagValue(text, "Body", n, r.body)) break;
    records.push_back(std::move(r));
  }
  return records;
}

// A value as LvMAPI gets it back from an element: its leading blanks gone.
inline std::string WithoutLeadingBlanks(std::string value) {
  value.erase(0, value.find_first_not_of(' ') == std::string::npos ? value.size() : value.find_first_not_of(' '));
  return value;
}

}  // namespace fuzzing
