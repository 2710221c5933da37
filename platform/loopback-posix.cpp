#include "platform/loopback.h"
#include "platform/loopback_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

LoopbackListener::~LoopbackListener() {
  if (m_socket >= 0) ::close(static_cast<int>(m_socket));
}

bool LoopbackListener::Open(std::string* error) {
  const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listening < 0) return Fail(error, "cannot open a socket");
  m_socket = listening;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
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
  const int listening = static_cast<int>(m_socket);
  // A browser may open a connection and send nothing on it (a speculative
  // one); such a connection is dropped and the next one read.
  while (loopback::MillisecondsLeft(deadline) > 0) {
    pollfd waiting{listening, POLLIN, 0};
    if (::poll(&waiting, 1, loopback::MillisecondsLeft(deadline)) <= 0) continue;
    const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::string request;
    char buffer[2048];
    while (loopback::WantsMore(request)) {
      pollfd reading{connection, POLLIN, 0};
      const int wait = std::min(loopback::MillisecondsLeft(deadline), 5000);
      if (::poll(&reading, 1, wait) <= 0) break;
      const ssize_t n = ::read(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
    }
    if (!loopback::TargetOf(request, target)) {
      ::close(connection);
      continue;
    }
    const std::string answer = loopback::Answer(page);
    (void)!::write(connection, answer.data(), answer.size());
    ::close(connection);
    return true;
  }
  if (error) *error = "no answer from the browser within " + std::to_string(limit.count()) + " seconds";
  return false;
}

}  // namespace platform
