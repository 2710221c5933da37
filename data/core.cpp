#include "data/core.h"

#include <algorithm>
#include <array>
#include <iostream>

namespace {

// Writes `text` `times` times over to `out`, in pieces of many repetitions
// (no allocation: this runs in destructors).
void WriteRepeated(std::ostream& out, std::string_view text, std::size_t times) {
  std::array<char, 16 * 1024> piece;
  const std::size_t perPiece = text.empty() ? 0 : piece.size() / text.size();
  if (perPiece < 2) {
    for (std::size_t i = 0; i < times; ++i) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  const std::size_t filled = std::min(perPiece, times);
  for (std::size_t i = 0; i < filled; ++i) std::copy(text.begin(), text.end(), piece.begin() + i * text.size());
  for (std::size_t left = times; left > 0;) {
    const std::size_t now = std::min(left, filled);
    out.write(piece.data(), static_cast<std::streamsize>(now * text.size()));
    left -= now;
  }
}

}  // namespace

CLVTrace::CLVTrace(const CLVTrace& other)
    : m_runs(other.m_runs ? std::make_unique<std::vector<Run>>(*other.m_runs) : nullptr) {}

CLVTrace& CLVTrace::operator=(const CLVTrace& other) {
  if (this != &other) m_runs = other.m_runs ? std::make_unique<std::vector<Run>>(*other.m_runs) : nullptr;
  return *this;
}

CLVTrace::~CLVTrace() {
  if (!m_runs) return;
  for (const Run& run : *m_runs) WriteRepeated(std::cout, run.text, run.times);
  std::cout << std::endl;
}

bool CLVTrace::Trace(std::string_view text, std::size_t times) {
  if (text.empty() || times == 0) return true;
  if (!m_runs) m_runs = std::make_unique<std::vector<Run>>();
  if (!m_runs->empty() && m_runs->back().text == text) {
    m_runs->back().times += times;
  } else {
    m_runs->push_back(Run{std::string(text), times});
  }
  return true;
}

std::string CLVTrace::TraceText() const {
  std::string text;
  if (m_runs) {
    for (const Run& run : *m_runs) {
      for (std::size_t i = 0; i < run.times; ++i) text += run.text;
    }
  }
  return text;
}
