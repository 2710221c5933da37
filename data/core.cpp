#include "data/core.h"

#include <iostream>

CLVTrace::~CLVTrace() {
  if (!m_trace.empty()) std::cout << m_trace << std::endl;
}

bool CLVTrace::Trace(std::string_view text) {
  m_trace += text;
  return true;
}
