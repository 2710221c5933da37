// A one-request web listener on 127.0.0.1, for the browser's return from a
// sign-in page: the browser is sent to http://127.0.0.1:<port>/ with the
// result in the address, and gets one short page in answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace platform {

// Only the loopback address is bound, so nothing outside this computer can
// reach it; the port is chosen by the system. Nothing here throws.
class LoopbackListener {
 public:
  LoopbackListener() = default;
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Starts listening on a free port; false with `error` when it cannot.
  bool Open(std::string* error);
  int port() const { return m_port; }

  // Waits up to `limit` for a request and reads its target (the part after
  // "GET ", e.g. "/?code=...&state=..."); answers with `page` (HTML) and
  // closes. False when the time ran out or the request was not readable.
  bool ReceiveOne(std::chrono::seconds limit, const std::string& page, std::string& target, std::string* error);

 private:
  std::intptr_t m_socket = -1;  // the listening socket, as the system numbers it; -1: none
  int m_port = 0;
};

}  // namespace platform
