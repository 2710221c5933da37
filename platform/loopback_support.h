// What the loopback listener's sources share, whatever the sockets under
// them: the deadline, reading the browser's request line and the answer.
// Not for use outside platform/.
#pragma once

#include <chrono>
#include <string>

namespace platform::loopback {

// Milliseconds left until `deadline`, at least 0.
inline int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// True while the request read so far has no whole first line, and is not
// yet too long to be a browser's.
inline bool WantsMore(const std::string& request) {
  return request.find("\r\n") == std::string::npos && request.size() < 16384;
}

// The target of a GET request ("/?code=...&state=..."); false when the
// request's first line is none.
inline bool TargetOf(const std::string& request, std::string& target) {
  const size_t lineEnd = request.find("\r\n");
  if (request.rfind("GET ", 0) != 0 || lineEnd == std::string::npos) return false;
  size_t targetEnd = request.find(' ', 4);
  if (targetEnd > lineEnd) targetEnd = lineEnd;
  target = request.substr(4, targetEnd - 4);
  return true;
}

// The whole answer carrying `page`, after which the connection closes.
inline std::string Answer(const std::string& page) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
}

}  // namespace platform::loopback
