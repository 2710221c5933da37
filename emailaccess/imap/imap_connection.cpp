#include "emailaccess/imap/imap_connection.h"

#include "emailaccess/retry.h"

#include <algorithm>
#include <cstring>

namespace emailaccess {
namespace {

// What a read receives at a time.
constexpr size_t kReceiveBytes = 64 * 1024;

// A connection that broke off inside an exchange; it is opened again.
struct ConnectionLost {
  std::string why;
};

// A refusal that may pass by itself: the mailbox is busy for the moment.
struct RefusedForNow {
  std::string said;
};

// The refusals libcurl's requests would have retried too (curl_session.h
// keeps the list).
bool BusyForNow(const std::string& said) {
  return ClassifyFailure(CURLE_QUOTE_ERROR, 0, said) == FailureKind::MessageTemporary;
}

// UID SEARCH with `criteria`: a plain SEARCH answers with one line of every
// UID; where the server has ESEARCH it is asked for ranges.
std::string SearchCommand(const std::set<std::string>& capabilities, const std::string& criteria) {
  return capabilities.count("ESEARCH") ? "UID SEARCH RETURN (ALL) " + criteria : "UID SEARCH " + criteria;
}

std::vector<std::uint32_t> SearchResult(const std::set<std::string>& capabilities, std::string_view answer) {
  return capabilities.count("ESEARCH") ? ParseEsearchResponse(answer) : ParseSearchResponse(answer);
}

}  // namespace

std::string ImapLastLine(std::string_view answer) {
  std::string said(answer.substr(answer.rfind('\n', answer.size() - 2) + 1));
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  return said;
}

ImapConnection::ImapConnection(const Config& config, EventLog& log, std::string home, bool readOnly)
    : m_session(config.imap, config.tls, config.network, "imap,imaps", false, log),
      m_log(log),
      m_network(config.network),
      m_serverUrl(config.imap.serverUrl),
      m_home(std::move(home)),
      m_readOnly(readOnly),
      m_waiter(curl_multi_init()) {
  if (!m_waiter) throw TransportError("cannot set up libcurl", false, FailureScope::Connection);
}

ImapConnection::~ImapConnection() {
  // A polite goodbye, never waited for: the server would log an unfinished
  // session otherwise.
  if (m_open) {
    const std::string logout = "L" + std::to_string(++m_tag) + " LOGOUT\r\n";
    size_t sent = 0;
    curl_easy_send(m_session.handle(), logout.data(), logout.size(), &sent);
  }
  curl_multi_cleanup(static_cast<CURLM*>(m_waiter));
}

void ImapConnection::Close() {
  m_open = false;
  m_selected.reset();
  m_uidValidity = 0;
  m_ahead.reset();
  m_received.clear();
  m_used = 0;
  m_answerEnd = 0;
  m_session.DropConnection();
}

void ImapConnection::Open() {
  m_session.Run(m_readOnly ? "connecting to read messages" : "connecting", [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, m_serverUrl.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
  });
  m_open = true;
}

void ImapConnection::Use(const std::string* mailbox) {
  if (!mailbox || (m_selected && *m_selected == *mailbox)) return;
  const bool home = *mailbox == m_home;
  const std::string_view answer = Exchange((home && !m_readOnly ? "SELECT " : "EXAMINE ") + *mailbox);
  const std::optional<std::uint32_t> validity = ParseResponseCode(answer, "UIDVALIDITY");
  if (!ImapTaggedOk(answer) || !validity || *validity == 0) {
    const std::string said = ImapLastLine(answer);
    Close();
    throw TransportError(name() + ": cannot open " + (home ? "the mailbox" : *mailbox) +
                             (m_readOnly ? " to read it" : "") + "; the server said: " + said,
                         false, FailureScope::Connection);
  }
  m_selected = *mailbox;
  if (home) m_uidValidity = *validity;
}

bool ImapConnection::Wait(bool forWriting) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(m_session.handle(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
    return false;
  }
  curl_waitfd wanted{socket, static_cast<short>(forWriting ? CURL_WAIT_POLLOUT : CURL_WAIT_POLLIN), 0};
  int ready = 0;
  const int ms = m_network.timeoutSeconds * 1000;
  return curl_multi_wait(static_cast<CURLM*>(m_waiter), &wanted, 1, ms, &ready) == CURLM_OK && ready > 0;
}

std::string ImapConnection::Send(const std::string& command) {
  const std::string tag = "L" + std::to_string(++m_tag);
  const std::string line = tag + " " + command + "\r\n";
  for (size_t sent = 0; sent < line.size();) {
    size_t n = 0;
    const CURLcode code = curl_easy_send(m_session.handle(), line.data() + sent, line.size() - sent, &n);
    if (code == CURLE_AGAIN) {
      if (!Wait(true)) {
        throw ConnectionLost{"the server took no command for " + std::to_string(m_network.timeoutSeconds) + " s"};
      }
      continue;
    }
    if (code != CURLE_OK) throw ConnectionLost{curl_easy_strerror(code)};
    sent += n;
  }
  return tag;
}

std::string_view ImapConnection::Receive(const std::string& tag) {
  // What came after the last answer (the start of this one) moves to the front.
  const size_t left = m_used - m_answerEnd;
  if (left > 0) std::memmove(m_received.data(), m_received.data() + m_answerEnd, left);
  m_used = left;
  m_answerEnd = 0;
  size_t scanned = 0;
  for (;;) {
    if (const std::optional<size_t> end = ImapAnswerEnd(std::string_view(m_received.data(), m_used), tag, scanned)) {
      m_answerEnd = *end;
      return std::string_view(m_received.data(), m_answerEnd);
    }
    // The socket's bytes go straight into the buffer, which grows by
    // doubling and is never cleared, so each byte is written once.
    if (m_received.size() < m_used + kReceiveBytes) {
      m_received.resize(std::max(m_received.size() * 2, m_used + kReceiveBytes));
    }
    size_t n = 0;
    const CURLcode code =
        curl_easy_recv(m_session.handle(), m_received.data() + m_used, m_received.size() - m_used, &n);
    if (code == CURLE_AGAIN) {
      if (!Wait(false)) throw ConnectionLost{"no answer for " + std::to_string(m_network.timeoutSeconds) + " s"};
      continue;
    }
    if (code != CURLE_OK) throw ConnectionLost{curl_easy_strerror(code)};
    if (n == 0) throw ConnectionLost{"the server closed the connection"};
    m_used += n;
  }
}

std::string_view ImapConnection::Exchange(const std::string& command) {
  SettleAhead();
  return Receive(Send(command));
}

void ImapConnection::SettleAhead() {
  if (!m_ahead) return;
  const std::string tag = m_ahead->tag;
  m_ahead.reset();
  Receive(tag);  // asked for, no longer wanted
}

template <typename Work>
auto ImapConnection::Retrying(const std::string& what, Work work) -> decltype(work()) {
  return WithRetries(m_network, m_log, [&](int, bool last) {
    try {
      if (!m_open) Open();
      return work();
    } catch (const ConnectionLost& lost) {
      Close();
      if (last) {
        throw TransportError(name() + ": " + what + " failed, server out of reach: " + lost.why, true,
                             FailureScope::Connection);
      }
      throw TryAgain(name() + ": " + what, lost.why, FailureScope::Connection);
    } catch (const RefusedForNow& refused) {
      if (last) throw TransportError(name() + ": " + what + " failed for now; the server said: " + refused.said, true);
      throw TryAgain(name() + ": " + what, "the server said: " + refused.said, FailureScope::Message);
    }
  });
}

std::string ImapConnection::Checked(const std::string& what, const std::string& command,
                                    const std::string* mailbox) {
  return Retrying(what, [&] {
    Use(mailbox);
    const std::string_view answer = Exchange(command);
    if (!ImapTaggedOk(answer)) {
      const std::string said = ImapLastLine(answer);
      if (BusyForNow(said)) throw RefusedForNow{said};
      throw TransportError(name() + ": " + what + " was refused; the server said: " + said, false);
    }
    return std::string(answer);
  });
}

std::string ImapConnection::Command(const std::string& what, const std::string& command, In in) {
  return Checked(what, command, Where(in));
}

std::string ImapConnection::CommandIn(const std::string& what, const std::string& command,
                                      const std::string& folder) {
  return Checked(what, command, &folder);
}

std::string ImapConnection::Answer(const std::string& what, const std::string& command, In in) {
  return Retrying(what, [&] {
    Use(Where(in));
    return std::string(Exchange(command));
  });
}

std::string ImapConnection::CommandOnce(const std::string& what, const std::string& command) {
  Retrying(what, [&] {
    Use(&m_home);
    return 0;
  });
  std::string answer;
  try {
    answer = std::string(Exchange(command));
  } catch (const ConnectionLost& lost) {
    Close();
    throw TransportError(name() + ": " + what + " failed, server out of reach: " + lost.why, true,
                         FailureScope::Connection);
  }
  if (!ImapTaggedOk(answer)) {
    const std::string said = ImapLastLine(answer);
    if (BusyForNow(said)) throw TransportError(name() + ": " + what + " failed for now; the server said: " + said, true);
    throw TransportError(name() + ": " + what + " was refused; the server said: " + said, false);
  }
  return answer;
}

const std::set<std::string>& ImapConnection::Capabilities() {
  if (!m_capabilities) m_capabilities = ParseCapabilities(Command("asking for capabilities", "CAPABILITY", In::NoMailbox));
  return *m_capabilities;
}

std::vector<std::uint32_t> ImapConnection::Search(const std::string& what, const std::string& criteria) {
  const std::set<std::string>& capabilities = Capabilities();
  return SearchResult(capabilities, Command(what, SearchCommand(capabilities, criteria)));
}

std::vector<std::uint32_t> ImapConnection::SearchIn(const std::string& what, const std::string& criteria,
                                                    const std::string& folder) {
  const std::set<std::string>& capabilities = Capabilities();
  return SearchResult(capabilities, CommandIn(what, SearchCommand(capabilities, criteria), folder));
}

std::uint32_t ImapConnection::UidValidity() {
  return Retrying("opening " + m_home, [&] {
    Use(&m_home);
    return m_uidValidity;
  });
}

void ImapConnection::FetchLater(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity) {
  if (!m_open || m_selected != m_home || m_uidValidity != uidValidity || sortedUids.empty()) return;
  const std::string set = ImapUidSet(sortedUids);
  if (m_ahead && m_ahead->set == set) return;
  try {
    SettleAhead();
    ++m_fetches;
    m_ahead = Ahead{Send("UID FETCH " + set + " BODY.PEEK[]"), set};
  } catch (const ConnectionLost&) {
    // Fetch opens the connection again when the messages are wanted.
    Close();
  }
}

std::vector<FetchedMessage> ImapConnection::Fetch(const std::vector<std::uint32_t>& sortedUids,
                                                  std::uint32_t uidValidity, const std::string& section) {
  const std::string set = ImapUidSet(sortedUids);
  return Retrying("fetching UID " + set, [&]() -> std::vector<FetchedMessage> {
    Use(&m_home);
    if (m_uidValidity != uidValidity) return {};
    std::string_view answer;
    if (m_ahead && section.empty() && m_ahead->set == set) {
      const std::string tag = m_ahead->tag;
      m_ahead.reset();
      answer = Receive(tag);
    } else {
      ++m_fetches;
      answer = Exchange("UID FETCH " + set + " BODY.PEEK[" + section + "]");
    }
    std::optional<std::vector<FetchedMessage>> messages = ParseFetchedMessages(answer);
    if (!messages) {
      throw TransportError(name() + ": fetching UID " + set + " was refused; the server said: " + ImapLastLine(answer),
                           false);
    }
    return std::move(*messages);
  });
}

std::vector<FetchedFlags> ImapConnection::Details(const std::vector<std::uint32_t>& sortedUids,
                                                  std::uint32_t uidValidity) {
  const std::string set = ImapUidSet(sortedUids);
  const std::string what = "reading the flags of UID " + set;
  return Retrying(what, [&]() -> std::vector<FetchedFlags> {
    Use(&m_home);
    if (m_uidValidity != uidValidity) return {};
    const std::string_view answer = Exchange("UID FETCH " + set + " (UID FLAGS INTERNALDATE RFC822.SIZE)");
    if (!ImapTaggedOk(answer)) {
      throw TransportError(name() + ": " + what + " was refused; the server said: " + ImapLastLine(answer), false);
    }
    return ParseFetchResponse(answer);
  });
}

}  // namespace emailaccess
