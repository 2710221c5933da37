#include "emailaccess/imap/imap_store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

namespace emailaccess {
namespace {

// Percent-encodes a mailbox name for the URL path (libcurl decodes it).
std::string UrlPathSegment(const std::string& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Folder names were checked when the settings were read.
std::string Quoted(const std::string& folder) {
  std::optional<std::string> quoted = ImapQuoted(folder);
  if (!quoted) throw TransportError("the folder name '" + folder + "' cannot be used on IMAP", false);
  return *quoted;
}

// libcurl counts each untagged line against its 300 KB limit on response
// headers, and counts a line again for every line that arrived with it:
// a few dozen lines per command stay far below it.
constexpr size_t kUidsPerCommand = 50;

// The flags, sizes and arrival times of as many messages in one command on
// the reading connection (some 100 bytes of answer each).
constexpr size_t kDetailsPerCommand = 1000;

// Messages read in one command, together at most this size (a larger one
// is read on its own): enough to make the round trips vanish, little memory.
constexpr std::uint64_t kBytesPerFetch = 1024 * 1024;
constexpr size_t kMessagesPerFetch = 100;
// What a read receives at a time.
constexpr size_t kReceiveBytes = 64 * 1024;

// The Message-ID of a header block, or empty.
std::string MessageIdOf(std::string_view header) {
  for (size_t at = 0; at < header.size();) {
    size_t end = header.find('\n', at);
    if (end == std::string_view::npos) end = header.size();
    const std::string_view line = header.substr(at, end - at);
    at = end + 1;
    if (line.size() < 11) continue;
    std::string name(line.substr(0, 11));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "message-id:") continue;
    const size_t open = line.find('<', 11);
    const size_t close = open == std::string_view::npos ? open : line.find('>', open);
    if (close != std::string_view::npos) return std::string(line.substr(open, close - open + 1));
  }
  return std::string();
}

// A connection that broke off inside an exchange; Fetch opens a new one.
struct ConnectionLost {
  std::string why;
};

// The last line of an answer, for the log.
std::string LastLine(std::string_view answer) {
  std::string said(answer.substr(answer.rfind('\n', answer.size() - 2) + 1));
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  return said;
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

ImapReader::ImapReader(const Config& config, EventLog& log, std::string quotedMailbox)
    : m_session(config.imap, config.tls, config.network, "imap,imaps", false, log),
      m_log(log),
      m_network(config.network),
      m_serverUrl(config.imap.serverUrl),
      m_quotedMailbox(std::move(quotedMailbox)),
      m_waiter(curl_multi_init()) {
  if (!m_waiter) throw TransportError("cannot set up libcurl", false, FailureScope::Connection);
}

ImapReader::~ImapReader() {
  // A polite goodbye, never waited for: the server would log an unfinished
  // session otherwise.
  if (m_open) {
    const std::string logout = "L" + std::to_string(++m_tag) + " LOGOUT\r\n";
    size_t sent = 0;
    curl_easy_send(m_session.handle(), logout.data(), logout.size(), &sent);
  }
  curl_multi_cleanup(static_cast<CURLM*>(m_waiter));
}

void ImapReader::Close() {
  m_open = false;
  m_ahead.reset();
  m_received.clear();
  m_used = 0;
  m_answerEnd = 0;
  m_session.DropConnection();
}

void ImapReader::Open() {
  m_session.Run("connecting to read messages", [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, m_serverUrl.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
  });
  m_open = true;
  const std::string_view answer = Exchange("EXAMINE " + m_quotedMailbox);
  m_uidValidity = ParseResponseCode(answer, "UIDVALIDITY").value_or(0);
  if (m_uidValidity == 0) {
    const std::string said = LastLine(answer);
    Close();
    throw TransportError(m_session.name() + ": cannot open the mailbox to read it; the server said: " + said, false,
                         FailureScope::Connection);
  }
}

bool ImapReader::Wait(bool forWriting) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(m_session.handle(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) {
    return false;
  }
  curl_waitfd wanted{socket, static_cast<short>(forWriting ? CURL_WAIT_POLLOUT : CURL_WAIT_POLLIN), 0};
  int ready = 0;
  const int ms = m_network.timeoutSeconds * 1000;
  return curl_multi_wait(static_cast<CURLM*>(m_waiter), &wanted, 1, ms, &ready) == CURLM_OK && ready > 0;
}

std::string ImapReader::Send(const std::string& command) {
  const std::string tag = "L" + std::to_string(++m_tag);
  const std::string line = tag + " " + command + "\r\n";
  for (size_t sent = 0; sent < line.size();) {
    size_t n = 0;
    const CURLcode code = curl_easy_send(m_session.handle(), line.data() + sent, line.size() - sent, &n);
    if (code == CURLE_AGAIN) {
      if (!Wait(true)) throw ConnectionLost{"the server took no command for " + std::to_string(m_network.timeoutSeconds) + " s"};
      continue;
    }
    if (code != CURLE_OK) throw ConnectionLost{curl_easy_strerror(code)};
    sent += n;
  }
  return tag;
}

std::string_view ImapReader::Receive(const std::string& tag) {
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

std::string_view ImapReader::Exchange(const std::string& command) {
  SettleAhead();
  return Receive(Send(command));
}

void ImapReader::SettleAhead() {
  if (!m_ahead) return;
  const std::string tag = m_ahead->tag;
  m_ahead.reset();
  Receive(tag);  // asked for, no longer wanted
}

void ImapReader::FetchLater(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity) {
  if (!m_open || m_uidValidity != uidValidity || sortedUids.empty()) return;
  const std::string set = ImapUidSet(sortedUids);
  if (m_ahead && m_ahead->set == set) return;
  try {
    SettleAhead();
    ++m_commands;
    m_ahead = Ahead{Send("UID FETCH " + set + " BODY.PEEK[]"), set};
  } catch (const ConnectionLost&) {
    // Fetch opens the connection again when the messages are wanted.
    Close();
  }
}

template <typename Work>
auto ImapReader::Retrying(const std::string& what, Work work) -> decltype(work()) {
  int waitMs = m_network.retryWaitMs;
  for (int attempt = 0;; ++attempt) {
    try {
      if (!m_open) Open();
      return work();
    } catch (const ConnectionLost& lost) {
      Close();
      if (attempt >= m_network.retries) {
        throw TransportError(m_session.name() + ": " + what + " failed, server out of reach: " + lost.why, true,
                             FailureScope::Connection);
      }
      m_log.Info(m_session.name() + ": " + what + " failed for now (" + lost.why + "), trying again in " +
                 std::to_string(waitMs) + " ms");
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
      waitMs *= 2;
    }
  }
}

std::vector<FetchedMessage> ImapReader::Fetch(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity,
                                              const std::string& section) {
  const std::string set = ImapUidSet(sortedUids);
  return Retrying("fetching UID " + set, [&]() -> std::vector<FetchedMessage> {
    if (m_uidValidity != uidValidity) return {};
    std::string_view answer;
    if (m_ahead && section.empty() && m_ahead->set == set) {
      const std::string tag = m_ahead->tag;
      m_ahead.reset();
      answer = Receive(tag);
    } else {
      ++m_commands;
      answer = Exchange("UID FETCH " + set + " BODY.PEEK[" + section + "]");
    }
    std::optional<std::vector<FetchedMessage>> messages = ParseFetchedMessages(answer);
    if (!messages) {
      throw TransportError(
          m_session.name() + ": fetching UID " + set + " was refused; the server said: " + LastLine(answer), false);
    }
    return std::move(*messages);
  });
}

std::vector<FetchedFlags> ImapReader::Details(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity) {
  const std::string set = ImapUidSet(sortedUids);
  return Retrying("reading the flags of UID " + set, [&]() -> std::vector<FetchedFlags> {
    if (m_uidValidity != uidValidity) return {};
    const std::string_view answer = Exchange("UID FETCH " + set + " (UID FLAGS INTERNALDATE RFC822.SIZE)");
    if (!ImapTaggedOk(answer)) {
      throw TransportError(m_session.name() + ": reading the flags of UID " + set + " was refused; the server said: " +
                               LastLine(answer),
                           false);
    }
    return ParseFetchResponse(answer);
  });
}

std::uint32_t ImapReader::UidValidity() {
  return Retrying("opening " + m_quotedMailbox, [&] { return m_uidValidity; });
}

std::string ImapReader::Command(const std::string& what, const std::string& command) {
  return Retrying(what, [&] {
    const std::string_view answer = Exchange(command);
    if (!ImapTaggedOk(answer)) {
      throw TransportError(m_session.name() + ": " + what + " was refused; the server said: " + LastLine(answer),
                           false);
    }
    return std::string(answer);
  });
}

std::vector<std::uint32_t> ImapReader::Search(const std::string& what, const std::string& criteria) {
  if (!m_capabilities) m_capabilities = ParseCapabilities(Command("asking for capabilities", "CAPABILITY"));
  return SearchResult(*m_capabilities, Command(what, SearchCommand(*m_capabilities, criteria)));
}

ImapStore::ImapStore(const Config& config, EventLog& log)
    : m_settings(config.imap),
      m_config(config),
      m_log(log),
      m_session(config.imap, config.tls, config.network, "imap,imaps", false, log),
      m_mailboxUrl(config.imap.serverUrl + UrlPathSegment(config.imap.mailbox)),
      m_quotedMailbox(Quoted(config.imap.mailbox)) {}

ImapStore::~ImapStore() {
  if (m_reader) {
    m_log.Info(m_session.name() + ": read " + std::to_string(m_read) + " message(s) with " +
               std::to_string(m_reader->commands()) + " FETCH command(s), " + std::to_string(m_readSingly) +
               " of them on their own; " + std::to_string(m_refusedBatches) + " batch(es) refused");
  }
}

CurlResult ImapStore::Command(const std::string& action, const std::string& command, bool inMailbox) {
  return m_session.Run(action, [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, (inMailbox ? m_mailboxUrl : m_settings.serverUrl).c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
  });
}

std::uint32_t ImapStore::UidValidity() {
  if (m_uidValidity == 0) {
    const CurlResult status =
        Command("reading the state of " + m_settings.mailbox, "STATUS " + m_quotedMailbox + " (UIDVALIDITY)", false);
    m_uidValidity = ParseStatusValue(status.body, "UIDVALIDITY").value_or(0);
    if (m_uidValidity == 0) {
      throw TransportError(m_session.name() + ": no UIDVALIDITY for " + m_settings.mailbox, false,
                           FailureScope::Connection);
    }
  }
  return m_uidValidity;
}

const std::set<std::string>& ImapStore::Capabilities() {
  if (!m_capabilities) m_capabilities = ParseCapabilities(Command("asking for capabilities", "CAPABILITY", false).body);
  return *m_capabilities;
}

std::vector<std::uint32_t> ImapStore::Search(const std::string& action, const std::string& criteria,
                                             const std::string& url) {
  const std::string command = SearchCommand(Capabilities(), criteria);
  const CurlResult result = url.empty() ? Command(action, command, true) : m_session.Run(action, [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
  });
  return SearchResult(Capabilities(), result.body);
}

std::set<std::uint32_t>& ImapStore::Undeleted() {
  if (!m_undeleted) {
    const std::vector<std::uint32_t> uids = Search("listing " + m_settings.mailbox, "UNDELETED");
    m_undeleted.emplace(uids.begin(), uids.end());
  }
  return *m_undeleted;
}

bool ImapStore::Batchable(std::uint32_t uid) const {
  auto size = m_sizes.find(uid);
  return size != m_sizes.end() && size->second > 0 && size->second <= kBytesPerFetch && !m_fetchSingly.count(uid);
}

ImapReader& ImapStore::Reader() {
  if (!m_reader) m_reader = std::make_unique<ImapReader>(m_config, m_log, m_quotedMailbox);
  return *m_reader;
}

std::vector<std::uint32_t>::const_iterator ImapStore::NextBatch(std::vector<std::uint32_t>::const_iterator from,
                                                                 std::vector<std::uint32_t>& batch) const {
  std::uint64_t bytes = 0;
  for (; from != m_listed.end(); ++from) {
    if (!Batchable(*from)) continue;
    const std::uint64_t size = m_sizes.at(*from);
    if (bytes + size > kBytesPerFetch || batch.size() >= kMessagesPerFetch) break;
    batch.push_back(*from);
    bytes += size;
  }
  return from;
}

void ImapStore::FetchAhead(std::uint32_t uid) {
  std::vector<std::uint32_t> batch;
  const auto rest = NextBatch(std::find(m_listed.begin(), m_listed.end(), uid), batch);
  if (batch.empty() || batch.front() != uid) return;
  std::sort(batch.begin(), batch.end());
  m_prefetched.clear();
  std::vector<FetchedMessage> messages;
  try {
    messages = Reader().Fetch(batch, m_listedValidity);
  } catch (const TransportError& e) {
    if (e.connectionFailed()) throw;
    // One message the server cannot deliver must not hold up the others:
    // they are fetched one at a time, where a refusal names its message.
    ++m_refusedBatches;
    m_fetchSingly.insert(batch.begin(), batch.end());
    if (!m_toldRefusedBatch) {
      m_toldRefusedBatch = true;
      m_log.Warning(std::string(e.what()) + "; fetching them one at a time");
    }
    return;
  }
  // An empty text is left to the single fetch, which tells why.
  for (FetchedMessage& message : messages) {
    if (!message.text.empty() && std::binary_search(batch.begin(), batch.end(), message.uid)) {
      m_prefetched[message.uid] = std::move(message.text);
    }
  }
  // The server sends the next batch while this one is being read.
  std::vector<std::uint32_t> next;
  NextBatch(rest, next);
  std::sort(next.begin(), next.end());
  Reader().FetchLater(next, m_listedValidity);
}

std::vector<StoredMessage> ImapStore::ListWaiting(const std::string& subject) {
  // A new listing starts from what the server says now.
  m_uidValidity = 0;
  m_undeleted.reset();
  m_sizes.clear();
  m_listed.clear();
  m_prefetched.clear();
  m_fetchSingly.clear();
  // The listing goes over the reading connection too: a fetch that files
  // nothing logs in once.
  ImapReader& reader = Reader();
  const ImapKey base{m_settings.mailbox, reader.UidValidity(), 0};
  m_listedValidity = base.uidValidity;
  const std::optional<std::string> quoted = ImapQuoted(subject);
  // A delivery report returns our subject in its text, not in its own
  // subject: the server looks there too, so that a mailbox of other mail
  // costs one search and no download.
  std::vector<std::uint32_t> uids = reader.Search(
      "searching " + m_settings.mailbox, "UNDELETED" + (quoted ? " OR SUBJECT " + *quoted + " TEXT " + *quoted : ""));
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());

  // The details come over the reading connection, which reads answers of
  // any length itself, many UIDs to a command.
  std::map<std::uint32_t, FetchedFlags> details;
  for (size_t i = 0; i < uids.size(); i += kDetailsPerCommand) {
    const std::vector<std::uint32_t> chunk(uids.begin() + i,
                                           uids.begin() + std::min(uids.size(), i + kDetailsPerCommand));
    for (const FetchedFlags& entry : reader.Details(chunk, m_listedValidity)) details[entry.uid] = entry;
  }
  // UIDs grow with every message that arrives: their order is the order of
  // arrival. A message expunged meanwhile has no details and is left out.
  std::vector<StoredMessage> waiting;
  for (std::uint32_t uid : uids) {
    auto found = details.find(uid);
    if (found == details.end()) continue;
    m_sizes[uid] = found->second.size;
    m_listed.push_back(uid);
    ImapKey key = base;
    key.uid = uid;
    waiting.push_back({FormatImapKey(key), found->second.internalDateNs});
  }
  return waiting;
}

std::optional<std::uint32_t> ImapStore::OwnUid(const std::string& key) {
  const std::optional<ImapKey> parsed = ParseImapKey(key);
  if (!parsed || parsed->mailbox != m_settings.mailbox || parsed->uidValidity != UidValidity()) return std::nullopt;
  return parsed->uid;
}

bool ImapStore::IsWaiting(const std::string& key) {
  const std::optional<std::uint32_t> uid = OwnUid(key);
  return uid && Undeleted().count(*uid) > 0;
}

std::string ImapStore::Read(const std::string& key) {
  const std::optional<ImapKey> parsed = ParseImapKey(key);
  if (!parsed || parsed->mailbox != m_settings.mailbox) {
    throw TransportError("message " + key + " is not one of " + m_settings.mailbox, false);
  }
  if (parsed->uidValidity == m_listedValidity) {
    if (!m_prefetched.count(parsed->uid) && Batchable(parsed->uid)) FetchAhead(parsed->uid);
    auto prefetched = m_prefetched.find(parsed->uid);
    if (prefetched != m_prefetched.end()) {
      std::string text = std::move(prefetched->second);
      m_prefetched.erase(prefetched);
      ++m_read;
      return text;
    }
  }
  ++m_readSingly;
  for (FetchedMessage& message : Reader().Fetch({parsed->uid}, parsed->uidValidity)) {
    if (message.uid == parsed->uid && !message.text.empty()) {
      ++m_read;
      return std::move(message.text);
    }
  }
  throw TransportError(m_session.name() + ": message " + key + " is no longer in " + m_settings.mailbox, false);
}

bool ImapStore::FolderExists(const std::string& folder) {
  return ListResponseNames(Command("looking for " + folder, "LIST \"\" " + Quoted(folder), false).body, folder);
}

void ImapStore::EnsureFolder(const std::string& folder) {
  if (m_folders.count(folder)) return;
  if (!FolderExists(folder)) {
    const CurlResult created = m_session.Perform([&](CURL* h) {
      curl_easy_setopt(h, CURLOPT_URL, m_settings.serverUrl.c_str());
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, ("CREATE " + Quoted(folder)).c_str());
    });
    // Another program may have created it at the same moment: look again.
    if (!FolderExists(folder)) {
      m_session.Throw("creating the folder " + folder, created,
                      ClassifyFailure(created.code, created.response, created.refusal));
    }
    m_log.Info(m_session.name() + ": created the folder " + folder);
    // Mail programs that show subscribed folders only show it too.
    m_session.Perform([&](CURL* h) {
      curl_easy_setopt(h, CURLOPT_URL, m_settings.serverUrl.c_str());
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, ("SUBSCRIBE " + Quoted(folder)).c_str());
    });
  }
  m_folders.insert(folder);
}

bool ImapStore::CopyIsThere(std::uint32_t uid, const std::string& folder) {
  const std::string n = std::to_string(uid);
  const std::vector<FetchedFlags> details = ParseFetchResponse(
      Command("reading UID " + n + " to look for its copy", "UID FETCH " + n + " (UID RFC822.SIZE INTERNALDATE)", true)
          .body);
  // libcurl would not hand the header's literal over: the reader does.
  std::string header;
  for (FetchedMessage& message : Reader().Fetch({uid}, UidValidity(), "HEADER")) {
    if (message.uid == uid) header = std::move(message.text);
  }
  const std::optional<std::string> id = ImapQuoted(MessageIdOf(header));
  if (details.empty() || !id) return false;
  const std::string url = m_settings.serverUrl + UrlPathSegment(folder);
  const std::vector<std::uint32_t> candidates =
      Search("looking for UID " + n + " in " + folder, "HEADER Message-ID " + *id, url);
  for (size_t i = 0; i < candidates.size(); i += kUidsPerCommand) {
    std::vector<std::uint32_t> chunk(candidates.begin() + i,
                                     candidates.begin() + std::min(candidates.size(), i + kUidsPerCommand));
    std::sort(chunk.begin(), chunk.end());
    const std::string command = "UID FETCH " + ImapUidSet(chunk) + " (UID RFC822.SIZE INTERNALDATE)";
    const CurlResult copies = m_session.Run("reading the copies of UID " + n + " in " + folder, [&](CURL* h) {
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
    });
    for (const FetchedFlags& copy : ParseFetchResponse(copies.body)) {
      if (copy.size == details.front().size && copy.internalDateNs == details.front().internalDateNs) return true;
    }
  }
  return false;
}

bool ImapStore::CopyOnce(std::uint32_t uid, const std::string& folder, bool mayBeThere) {
  const std::string n = std::to_string(uid);
  const std::string command = "UID COPY " + n + " " + Quoted(folder);
  for (int attempt = 0;; ++attempt) {
    if ((mayBeThere || attempt > 0) && CopyIsThere(uid, folder)) {
      m_log.Info(m_session.name() + ": UID " + n + " is in " + folder + " already (an earlier copy); not copied again");
      return true;
    }
    try {
      const CurlResult copied = m_session.Run("copying UID " + n + " to " + folder, [&](CURL* h) {
        curl_easy_setopt(h, CURLOPT_URL, m_mailboxUrl.c_str());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
      }, false);
      // With UIDPLUS a COPY that found the message says where it put it.
      return !Capabilities().count("UIDPLUS") || copied.lastReply.find("COPYUID") != std::string::npos;
    } catch (const TransportError& e) {
      // The server may have made the copy and lost only its answer.
      if (!e.temporary() || attempt >= m_config.network.retries) throw;
    }
  }
}

bool ImapStore::MoveTo(const std::string& key, const std::string& folder, bool markSeen) {
  const std::optional<std::uint32_t> uid = OwnUid(key);
  if (!uid) return false;
  const bool hasMove = Capabilities().count("MOVE") > 0;
  const std::string n = std::to_string(*uid);
  // Without MOVE, a filing cut off after \Deleted left the message in the
  // mailbox, no longer listed: it is finished, not forgotten.
  bool deletedBefore = false;
  if (!Undeleted().count(*uid)) {
    if (hasMove || Search("looking for UID " + n + " marked deleted", "UID " + n + " DELETED").empty()) return false;
    deletedBefore = true;
  }
  EnsureFolder(folder);
  const std::string target = Quoted(folder);
  // Dealt with: it is read now, unless it goes to a person who has yet to
  // read it (fetching never marked it read).
  if (markSeen) Command("marking UID " + n + " read", "UID STORE " + n + " +FLAGS.SILENT (\\Seen)", true);
  bool moved = true;
  if (hasMove) {
    // A MOVE that found the message reports its expunge.
    const CurlResult result = Command("moving UID " + n + " to " + folder, "UID MOVE " + n + " " + target, true);
    moved = result.body.find("EXPUNGE") != std::string::npos || result.body.find("VANISHED") != std::string::npos;
  } else {
    moved = CopyOnce(*uid, folder, deletedBefore || m_filedBefore.count(key) > 0);
    if (moved) {
      Command("marking UID " + n + " deleted", "UID STORE " + n + " +FLAGS.SILENT (\\Deleted)", true);
      if (Capabilities().count("UIDPLUS")) {
        Command("expunging UID " + n, "UID EXPUNGE " + n, true);
      } else if (!m_toldNoUidplus) {
        m_toldNoUidplus = true;
        m_log.Info(m_session.name() + ": the server has neither MOVE nor UIDPLUS; moved messages stay in " +
                   m_settings.mailbox + " marked deleted until a mail program expunges it");
      }
    }
  }
  Undeleted().erase(*uid);
  return moved;
}

bool ImapStore::MoveToProcessed(const std::string& key) { return MoveTo(key, m_settings.processed); }

bool ImapStore::MoveToSkipped(const std::string& key) { return MoveTo(key, m_settings.skipped); }

bool ImapStore::MoveToUndeliverable(const std::string& key) { return MoveTo(key, m_settings.undeliverable); }
bool ImapStore::MoveToNeedsReading(const std::string& key) { return MoveTo(key, m_settings.needsReading, false); }

void ImapStore::Check(std::vector<CheckFinding>& findings) {
  const std::string label = m_session.name() + ": ";
  if (std::string problem = m_session.SignInProblem(); !problem.empty()) {
    findings.push_back({false, std::move(problem)});
    return;
  }
  try {
    m_session.RecordTls(true);
    const std::set<std::string>& capabilities = Capabilities();
    m_session.RecordTls(false);
    const std::string& tls = m_session.tlsDescription();
    std::string text = label;
    if (tls.empty()) {
      text += "no TLS";
    } else {
      text += (m_settings.scheme == "imaps" ? "implicit TLS, " : "STARTTLS, ") + tls +
              (m_session.tls().verify ? ", certificate verified" : ", certificate NOT verified");
    }
    text += ", logged in as " + m_settings.user;
    text += capabilities.count("MOVE") ? ", MOVE supported" : ", no MOVE (messages are copied, then expunged)";
    findings.push_back({!tls.empty() || !m_session.tls().required, text});

    const CurlResult status =
        Command("reading " + m_settings.mailbox, "STATUS " + m_quotedMailbox + " (MESSAGES UIDVALIDITY)", false);
    const std::optional<std::uint32_t> messages = ParseStatusValue(status.body, "MESSAGES");
    findings.push_back({messages.has_value(), label + m_settings.mailbox + ": " +
                                                  (messages ? std::to_string(*messages) + " message(s)" : "not found")});
    for (const auto& [role, folder] : {std::pair<std::string, std::string>{"Processed", m_settings.processed},
                                       {"Skipped", m_settings.skipped},
                                       {"Undeliverable", m_settings.undeliverable},
                                       {"Needs reading", m_settings.needsReading}}) {
      findings.push_back(
          {true, label + role + " (" + folder + "): " + (FolderExists(folder) ? "ok" : "not there yet, created on first use")});
    }
  } catch (const TransportError& e) {
    m_session.RecordTls(false);
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
