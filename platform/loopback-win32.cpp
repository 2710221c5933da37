#include "platform/loopback.h"
#include "platform/loopback_support.h"
#include "platform/win32_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace platform {
namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + win32::SystemMessage(static_cast<DWORD>(::WSAGetLastError()));
  return false;
}

// Winsock is started once per process and left running until its end.
bool StartSockets(std::string* error) {
  static int result = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (result != 0) {
    if (error) *error = "cannot start Windows Sockets: " + win32::SystemMessage(static_cast<DWORD>(result));
    return false;
  }
  return true;
}

// True when `socket` has something to read within `milliseconds`.
bool Readable(SOCKET socket, int milliseconds) {
  WSAPOLLFD waiting{};
  waiting.fd = socket;
  waiting.events = POLLRDNORM;
  return ::WSAPoll(&waiting, 1, milliseconds) > 0;
}

}  // namespace

LoopbackListener::~LoopbackListener() {
  if (m_socket != -1) ::closesocket(static_cast<SOCKET>(m_socket));
}

bool LoopbackListener::Open(std::string* error) {
  if (!StartSockets(error)) return false;
  // Not inherited: a program started meanwhile must not hold the port.
  const SOCKET listening = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (listening == INVALID_SOCKET) return Fail(error, "cannot open a socket");
  m_socket = static_cast<std::intptr_t>(listening);
  // Without it another program could bind the same port and take the
  // browser's return, sign-in code and all.
  const BOOL exclusive = TRUE;
  ::setsockopt(listening, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listening, 4) != 0 ||
      ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return Fail(error, "cannot listen on 127.0.0.1");
  }
  m_port = ntohs(address.sin_port);
  return true;
}

bool LoopbackListener::ReceiveOne(std::chrono::seconds limit, const std::string& page, std::string& target,
                                  std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const SOCKET listening = static_cast<SOCKET>(m_socket);
  // A browser may open a connection and send nothing on it (a speculative
  // one); such a connection is dropped and the next one read.
  while (loopback::MillisecondsLeft(deadline) > 0) {
    if (!Readable(listening, loopback::MillisecondsLeft(deadline))) continue;
    const SOCKET connection = ::accept(listening, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    std::string request;
    char buffer[2048];
    while (loopback::WantsMore(request)) {
      if (!Readable(connection, std::min(loopback::MillisecondsLeft(deadline), 5000))) break;
      const int n = ::recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    if (!loopback::TargetOf(request, target)) {
      ::closesocket(connection);
      continue;
    }
    const std::string answer = loopback::Answer(page);
    ::send(connection, answer.data(), static_cast<int>(answer.size()), 0);
    // Sent before the close, so the browser is not cut off mid-page.
    ::shutdown(connection, SD_SEND);
    ::closesocket(connection);
    return true;
  }
  if (error) *error = "no answer from the browser within " + std::to_string(limit.count()) + " seconds";
  return false;
}

}  // namespace platform
