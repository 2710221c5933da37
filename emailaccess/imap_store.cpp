#include "emailaccess/imap_store.h"

#include <algorithm>

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

// Messages fetched in one command, together at most this size: libcurl
// counts such an answer about twice against its 300 KB limit on response
// headers (more for many small messages, hence kUidsPerCommand too), and a
// line no longer than this is never shortened (see kFetchBufferBytes).
constexpr std::uint64_t kBytesPerFetch = 64 * 1024;
// libcurl's receive buffer for such a command: it shortens only lines that
// arrive longer than half of it.
constexpr long kFetchBufferBytes = 512 * 1024;
// Batches that failed before the rest of the run fetches singly.
constexpr int kMostFailedBatches = 3;

}  // namespace

ImapStore::ImapStore(const Config& config, EventLog& log)
    : m_settings(config.imap),
      m_log(log),
      m_session(config.imap, config.tls, config.network, "imap,imaps", false, log),
      m_mailboxUrl(config.imap.serverUrl + UrlPathSegment(config.imap.mailbox)),
      m_quotedMailbox(Quoted(config.imap.mailbox)) {}

ImapStore::~ImapStore() {
  try {
    RestoreUnread();
  } catch (const TransportError& e) {
    m_log.Error(std::string("cannot mark fetched messages unread again: ") + e.what());
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

std::vector<std::uint32_t> ImapStore::Search(const std::string& action, const std::string& criteria) {
  // A plain SEARCH answers with one line of every UID; ESEARCH with ranges.
  if (Capabilities().count("ESEARCH")) {
    return ParseEsearchResponse(Command(action, "UID SEARCH RETURN (ALL) " + criteria, true).body);
  }
  return ParseSearchResponse(Command(action, "UID SEARCH " + criteria, true).body);
}

std::set<std::uint32_t>& ImapStore::Undeleted() {
  if (!m_undeleted) {
    const std::vector<std::uint32_t> uids = Search("listing " + m_settings.mailbox, "UNDELETED");
    m_undeleted.emplace(uids.begin(), uids.end());
  }
  return *m_undeleted;
}

void ImapStore::MarkAhead(std::uint32_t uid) {
  RestoreUnread();
  std::vector<std::uint32_t> batch{uid};
  auto next = std::find(m_listed.begin(), m_listed.end(), uid);
  for (next = next == m_listed.end() ? next : next + 1; next != m_listed.end() && batch.size() < kUidsPerCommand;
       ++next) {
    if (!m_seenBefore[*next] && !Batchable(*next)) batch.push_back(*next);
  }
  std::sort(batch.begin(), batch.end());
  const std::string set = ImapUidSet(batch);
  // Recorded first: whatever happens to the command, the destructor at
  // least tries to mark them unread again.
  m_batch.insert(batch.begin(), batch.end());
  m_batchUnfetched = m_batch;
  Command("marking UID " + set + " read while fetched", "UID STORE " + set + " +FLAGS.SILENT (\\Seen)", true);
}

bool ImapStore::Batchable(std::uint32_t uid) const {
  auto size = m_sizes.find(uid);
  return m_failedBatches < kMostFailedBatches && size != m_sizes.end() && size->second > 0 &&
         size->second <= kBytesPerFetch && !m_fetchSingly.count(uid);
}

void ImapStore::FetchAhead(std::uint32_t uid) {
  std::vector<std::uint32_t> batch;
  std::uint64_t bytes = 0;
  for (auto next = std::find(m_listed.begin(), m_listed.end(), uid); next != m_listed.end(); ++next) {
    if (!Batchable(*next)) continue;
    const std::uint64_t size = m_sizes.at(*next);
    if (bytes + size > kBytesPerFetch || batch.size() >= kUidsPerCommand) break;
    batch.push_back(*next);
    bytes += size;
  }
  if (batch.empty() || batch.front() != uid) return;
  std::sort(batch.begin(), batch.end());
  const std::string url = m_mailboxUrl + ";UIDVALIDITY=" + std::to_string(m_listedValidity);
  const std::string command = "UID FETCH " + ImapUidSet(batch) + " BODY.PEEK[]";
  const CurlResult result = m_session.Perform(
      [&](CURL* h) {
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kFetchBufferBytes);
      },
      true);
  std::optional<std::vector<FetchedMessage>> messages;
  if (result.code == CURLE_OK) messages = ParseFetchedMessages(result.transcript);
  m_prefetched.clear();
  if (!messages) {
    // Whatever went wrong (the connection, a refusal, an answer cut short),
    // these messages are fetched singly, where a failure is reported as it
    // is; and what the server still sends of this answer must not be taken
    // for the answer to the next command.
    ++m_failedBatches;
    m_fetchSingly.insert(batch.begin(), batch.end());
    if (result.code == CURLE_OK) {
      m_log.Warning(m_session.name() + ": the answer to fetching UID " + ImapUidSet(batch) +
                    " could not be read whole; fetching them one at a time");
    }
    m_session.DropConnection();
    return;
  }
  // An empty text is left to the single fetch, which tells why.
  for (FetchedMessage& message : *messages) {
    if (!message.text.empty() && std::binary_search(batch.begin(), batch.end(), message.uid)) {
      m_prefetched[message.uid] = std::move(message.text);
    }
  }
}

void ImapStore::RestoreUnread() {
  if (m_batch.empty()) return;
  const std::string set = ImapUidSet(std::vector<std::uint32_t>(m_batch.begin(), m_batch.end()));
  m_batch.clear();
  m_batchUnfetched.clear();
  Command("keeping UID " + set + " unread", "UID STORE " + set + " -FLAGS.SILENT (\\Seen)", true);
}

std::vector<StoredMessage> ImapStore::ListWaiting(const std::string& subject) {
  RestoreUnread();
  // A new listing starts from what the server says now.
  m_uidValidity = 0;
  m_undeleted.reset();
  m_seenBefore.clear();
  m_sizes.clear();
  m_listed.clear();
  m_prefetched.clear();
  m_fetchSingly.clear();
  const ImapKey base{m_settings.mailbox, UidValidity(), 0};
  m_listedValidity = base.uidValidity;
  const std::optional<std::string> quoted = ImapQuoted(subject);
  std::vector<std::uint32_t> uids =
      Search("searching " + m_settings.mailbox, "UNDELETED" + (quoted ? " SUBJECT " + *quoted : ""));
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());

  std::map<std::uint32_t, FetchedFlags> details;
  for (size_t i = 0; i < uids.size(); i += kUidsPerCommand) {
    const std::vector<std::uint32_t> chunk(uids.begin() + i, uids.begin() + std::min(uids.size(), i + kUidsPerCommand));
    const CurlResult fetched = Command("reading flags in " + m_settings.mailbox,
                                       "UID FETCH " + ImapUidSet(chunk) + " (UID FLAGS INTERNALDATE RFC822.SIZE)", true);
    for (const FetchedFlags& entry : ParseFetchResponse(fetched.body)) details[entry.uid] = entry;
  }
  // UIDs grow with every message that arrives: their order is the order of
  // arrival. A message expunged meanwhile has no details and is left out.
  std::vector<StoredMessage> waiting;
  for (std::uint32_t uid : uids) {
    auto found = details.find(uid);
    if (found == details.end()) continue;
    m_seenBefore[uid] = found->second.seen;
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
      return text;
    }
  }
  const std::string uid = std::to_string(parsed->uid);
  const std::string url =
      m_mailboxUrl + ";UIDVALIDITY=" + std::to_string(parsed->uidValidity) + "/;UID=" + uid;
  auto seen = m_seenBefore.find(parsed->uid);
  if (seen == m_seenBefore.end()) {
    const CurlResult flags = Command("reading the flags of UID " + uid, "UID FETCH " + uid + " (UID FLAGS)", true);
    const std::vector<FetchedFlags> entries = ParseFetchResponse(flags.body);
    seen = m_seenBefore.emplace(parsed->uid, !entries.empty() && entries.front().seen).first;
  }
  if (!seen->second && !m_batch.count(parsed->uid)) MarkAhead(parsed->uid);
  const CurlResult message = m_session.Run("fetching UID " + uid, [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  });
  if (message.body.empty()) {
    throw TransportError(m_session.name() + ": message " + key + " is no longer in " + m_settings.mailbox, false);
  }
  // Until its reply has been consumed it is not read.
  if (m_batchUnfetched.erase(parsed->uid) && m_batchUnfetched.empty()) RestoreUnread();
  return message.body;
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

bool ImapStore::MoveTo(const std::string& key, const std::string& folder) {
  RestoreUnread();
  const std::optional<std::uint32_t> uid = OwnUid(key);
  if (!uid || !Undeleted().count(*uid)) return false;
  EnsureFolder(folder);
  const std::string n = std::to_string(*uid);
  const std::string target = Quoted(folder);
  // Dealt with: it is read now, wherever it goes.
  Command("marking UID " + n + " read", "UID STORE " + n + " +FLAGS.SILENT (\\Seen)", true);
  bool moved = true;
  if (Capabilities().count("MOVE")) {
    // A MOVE that found the message reports its expunge.
    const CurlResult result = Command("moving UID " + n + " to " + folder, "UID MOVE " + n + " " + target, true);
    moved = result.body.find("EXPUNGE") != std::string::npos || result.body.find("VANISHED") != std::string::npos;
  } else {
    const CurlResult copied = Command("copying UID " + n + " to " + folder, "UID COPY " + n + " " + target, true);
    if (Capabilities().count("UIDPLUS")) moved = copied.lastReply.find("COPYUID") != std::string::npos;
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

void ImapStore::Check(std::vector<CheckFinding>& findings) {
  const std::string label = m_session.name() + ": ";
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
                                       {"Skipped", m_settings.skipped}}) {
      findings.push_back(
          {true, label + role + " (" + folder + "): " + (FolderExists(folder) ? "ok" : "not there yet, created on first use")});
    }
  } catch (const TransportError& e) {
    m_session.RecordTls(false);
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
