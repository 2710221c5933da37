#include "emailaccess/imap/imap_store.h"

#include "emailaccess/retry.h"

#include <algorithm>
#include <cctype>

namespace emailaccess {
namespace {

// Folder names were checked when the settings were read.
std::string Quoted(const std::string& folder) {
  std::optional<std::string> quoted = ImapQuoted(folder);
  if (!quoted) throw TransportError("the folder name '" + folder + "' cannot be used on IMAP", false);
  return *quoted;
}

// The flags, sizes and arrival times of as many messages in one command on
// the reading connection (some 100 bytes of answer each).
constexpr size_t kDetailsPerCommand = 1000;

// Messages read in one command, together at most this size (a larger one
// is read on its own): enough to make the round trips vanish, little memory.
constexpr std::uint64_t kBytesPerFetch = 1024 * 1024;
constexpr size_t kMessagesPerFetch = 100;

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

}  // namespace

ImapStore::ImapStore(const Config& config, EventLog& log)
    : m_settings(config.imap), m_config(config), m_log(log), m_quotedMailbox(Quoted(config.imap.mailbox)) {}

ImapStore::~ImapStore() {
  if (m_reader) {
    m_log.Info(m_reader->name() + ": read " + std::to_string(m_read) + " message(s) with " +
               std::to_string(m_reader->fetches()) + " FETCH command(s), " + std::to_string(m_readSingly) +
               " of them on their own; " + std::to_string(m_refusedBatches) + " batch(es) refused");
  }
}

std::uint32_t ImapStore::UidValidity() {
  if (m_uidValidity == 0) {
    const std::string status = Filer().Command("reading the state of " + m_settings.mailbox,
                                               "STATUS " + m_quotedMailbox + " (UIDVALIDITY)",
                                               ImapConnection::In::NoMailbox);
    m_uidValidity = ParseStatusValue(status, "UIDVALIDITY").value_or(0);
    if (m_uidValidity == 0) {
      throw TransportError(Filer().name() + ": no UIDVALIDITY for " + m_settings.mailbox, false,
                           FailureScope::Connection);
    }
  }
  return m_uidValidity;
}

std::set<std::uint32_t>& ImapStore::Undeleted() {
  if (!m_undeleted) {
    const std::vector<std::uint32_t> uids = Filer().Search("listing " + m_settings.mailbox, "UNDELETED");
    m_undeleted.emplace(uids.begin(), uids.end());
  }
  return *m_undeleted;
}

bool ImapStore::Batchable(std::uint32_t uid) const {
  auto size = m_sizes.find(uid);
  return size != m_sizes.end() && size->second > 0 && size->second <= kBytesPerFetch && !m_fetchSingly.count(uid);
}

ImapConnection& ImapStore::Reader() {
  if (!m_reader) m_reader = std::make_unique<ImapConnection>(m_config, m_log, m_quotedMailbox, true);
  return *m_reader;
}

ImapConnection& ImapStore::Filer() {
  if (!m_filer) m_filer = std::make_unique<ImapConnection>(m_config, m_log, m_quotedMailbox, false);
  return *m_filer;
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
  ImapConnection& reader = Reader();
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
    waiting.push_back({FormatImapKey(key), found->second.internalDateNs,
                       found->second.size > 0 ? static_cast<std::int64_t>(found->second.size) : -1});
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
  throw TransportError(Reader().name() + ": message " + key + " is no longer in " + m_settings.mailbox, false);
}

bool ImapStore::FolderExists(const std::string& folder) {
  return ListResponseNames(
      Filer().Command("looking for " + folder, "LIST \"\" " + Quoted(folder), ImapConnection::In::NoMailbox), folder);
}

void ImapStore::EnsureFolder(const std::string& folder) {
  if (m_folders.count(folder)) return;
  if (!FolderExists(folder)) {
    const std::string created =
        Filer().Answer("creating the folder " + folder, "CREATE " + Quoted(folder), ImapConnection::In::NoMailbox);
    // Another program may have created it at the same moment: look again.
    if (!FolderExists(folder)) {
      throw TransportError(Filer().name() + ": creating the folder " + folder + " was refused; the server said: " +
                               ImapLastLine(created),
                           false);
    }
    m_log.Info(Filer().name() + ": created the folder " + folder);
    // Mail programs that show subscribed folders only show it too.
    Filer().Answer("subscribing to " + folder, "SUBSCRIBE " + Quoted(folder), ImapConnection::In::NoMailbox);
  }
  m_folders.insert(folder);
}

bool ImapStore::CopyIsThere(std::uint32_t uid, const std::string& folder) {
  const std::string n = std::to_string(uid);
  const std::vector<FetchedFlags> details = ParseFetchResponse(
      Filer().Command("reading UID " + n + " to look for its copy", "UID FETCH " + n + " (UID RFC822.SIZE INTERNALDATE)"));
  std::string header;
  for (FetchedMessage& message : Reader().Fetch({uid}, UidValidity(), "HEADER")) {
    if (message.uid == uid) header = std::move(message.text);
  }
  const std::optional<std::string> id = ImapQuoted(MessageIdOf(header));
  if (details.empty() || !id) return false;
  const std::string target = Quoted(folder);
  std::vector<std::uint32_t> candidates =
      Filer().SearchIn("looking for UID " + n + " in " + folder, "HEADER Message-ID " + *id, target);
  if (candidates.empty()) return false;
  std::sort(candidates.begin(), candidates.end());
  const std::string copies =
      Filer().CommandIn("reading the copies of UID " + n + " in " + folder,
                        "UID FETCH " + ImapUidSet(candidates) + " (UID RFC822.SIZE INTERNALDATE)", target);
  for (const FetchedFlags& copy : ParseFetchResponse(copies)) {
    if (copy.size == details.front().size && copy.internalDateNs == details.front().internalDateNs) return true;
  }
  return false;
}

bool ImapStore::CopyOnce(std::uint32_t uid, const std::string& folder, bool mayBeThere) {
  const std::string n = std::to_string(uid);
  const std::string what = "copying UID " + n + " to " + folder;
  return WithRetries(m_config.network, m_log, [&](int attempt, bool last) {
    if ((mayBeThere || attempt > 0) && CopyIsThere(uid, folder)) {
      m_log.Info(Filer().name() + ": UID " + n + " is in " + folder + " already (an earlier copy); not copied again");
      return true;
    }
    try {
      const std::string copied = Filer().CommandOnce(what, "UID COPY " + n + " " + Quoted(folder));
      // With UIDPLUS a COPY that found the message says where it put it.
      return !Filer().Capabilities().count("UIDPLUS") || ImapLastLine(copied).find("COPYUID") != std::string::npos;
    } catch (const TransportError& e) {
      // The server may have made the copy and lost only its answer: the
      // next attempt looks for it first.
      if (!e.temporary() || last) throw;
      throw TryAgain(Filer().name() + ": " + what, e.what(),
                     e.connectionFailed() ? FailureScope::Connection : FailureScope::Message);
    }
  });
}

bool ImapStore::MoveOnServer(std::uint32_t uid, const std::string& folder) {
  const std::string n = std::to_string(uid);
  std::string answer = Filer().Command("moving UID " + n + " to " + folder, "UID MOVE " + n + " " + Quoted(folder));
  // A MOVE that found the message reports its expunge.
  answer.erase(answer.rfind('\n', answer.size() - 2) + 1);  // the untagged lines only
  return answer.find("EXPUNGE") != std::string::npos || answer.find("VANISHED") != std::string::npos;
}

bool ImapStore::CopyAndExpunge(std::uint32_t uid, const std::string& folder, bool mayBeThere) {
  if (!CopyOnce(uid, folder, mayBeThere)) return false;
  ImapConnection& filer = Filer();
  const std::string n = std::to_string(uid);
  filer.Command("marking UID " + n + " deleted", "UID STORE " + n + " +FLAGS.SILENT (\\Deleted)");
  if (filer.Capabilities().count("UIDPLUS")) {
    filer.Command("expunging UID " + n, "UID EXPUNGE " + n);
  } else if (!m_toldNoUidplus) {
    m_toldNoUidplus = true;
    m_log.Info(filer.name() + ": the server has neither MOVE nor UIDPLUS; moved messages stay in " +
               m_settings.mailbox + " marked deleted until a mail program expunges it");
  }
  return true;
}

bool ImapStore::Move(const std::string& key, Folder to) {
  const std::string& folder = m_settings.folders[to];
  const std::optional<std::uint32_t> uid = OwnUid(key);
  if (!uid) return false;
  ImapConnection& filer = Filer();
  const bool hasMove = filer.Capabilities().count("MOVE") > 0;
  const std::string n = std::to_string(*uid);
  // Without MOVE, a filing cut off after \Deleted left the message in the
  // mailbox, no longer listed: it is finished, not forgotten.
  bool deletedBefore = false;
  if (!Undeleted().count(*uid)) {
    if (hasMove || filer.Search("looking for UID " + n + " marked deleted", "UID " + n + " DELETED").empty()) {
      return false;
    }
    deletedBefore = true;
  }
  EnsureFolder(folder);
  // Dealt with: it is read now, unless it goes to a person who has yet to
  // read it (fetching never marked it read).
  if (!InfoOf(to).forPerson) filer.Command("marking UID " + n + " read", "UID STORE " + n + " +FLAGS.SILENT (\\Seen)");
  const bool moved = hasMove ? MoveOnServer(*uid, folder)
                             : CopyAndExpunge(*uid, folder, deletedBefore || m_filedBefore.count(key) > 0);
  Undeleted().erase(*uid);
  return moved;
}

void ImapStore::Check(std::vector<CheckFinding>& findings) {
  ImapConnection& filer = Filer();
  CurlSession& session = filer.session();
  const std::string label = filer.name() + ": ";
  if (std::string problem = session.SignInProblem(); !problem.empty()) {
    findings.push_back({false, std::move(problem)});
    return;
  }
  try {
    session.RecordTls(true);
    const std::set<std::string>& capabilities = filer.Capabilities();
    session.RecordTls(false);
    const std::string& tls = session.tlsDescription();
    std::string text = label;
    if (tls.empty()) {
      text += "no TLS";
    } else {
      text += (m_settings.scheme == "imaps" ? "implicit TLS, " : "STARTTLS, ") + tls +
              (session.tls().verify ? ", certificate verified" : ", certificate NOT verified");
    }
    text += ", logged in as " + m_settings.user;
    text += capabilities.count("MOVE") ? ", MOVE supported" : ", no MOVE (messages are copied, then expunged)";
    findings.push_back({!tls.empty() || !session.tls().required, text});

    const std::string status = filer.Command("reading " + m_settings.mailbox,
                                             "STATUS " + m_quotedMailbox + " (MESSAGES UIDVALIDITY)",
                                             ImapConnection::In::NoMailbox);
    const std::optional<std::uint32_t> messages = ParseStatusValue(status, "MESSAGES");
    findings.push_back({messages.has_value(), label + m_settings.mailbox + ": " +
                                                  (messages ? std::to_string(*messages) + " message(s)" : "not found")});
    for (const FolderInfo& info : kFolders) {
      const std::string& folder = m_settings.folders[info.folder];
      findings.push_back({true, label + info.name + " (" + folder + "): " +
                                    (FolderExists(folder) ? "ok" : "not there yet, created on first use")});
    }
  } catch (const TransportError& e) {
    session.RecordTls(false);
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
