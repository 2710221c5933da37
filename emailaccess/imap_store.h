// The mailbox replies arrive in, on an IMAP server, through libcurl.
//
// One CurlSession (one connection, logged in once) serves every request.
// The mailbox is selected through the URL; candidates are found with
// UID SEARCH (the subject sent as a quoted string, or every message when it
// cannot be quoted) and the caller checks every subject again. A message is
// fetched under the UIDVALIDITY of its key (";UIDVALIDITY=v" in the URL), so
// a mailbox that was recreated meanwhile (new UIDVALIDITY) is never mistaken
// for the old one. A round trip per message would cost more than the
// message, so a message about to be read is fetched together with the small
// ones listed after it in one "UID FETCH <set> BODY.PEEK[]", which leaves
// \Seen alone. libcurl hands such an answer over line by line only (see
// ParseFetchedMessages), counts those lines against its limit on response
// headers and shortens lines longer than half its buffer: so a batch
// carries at most kBytesPerFetch of messages, and an answer that is not
// complete closes the connection and leaves its messages to the single
// fetch. That one is libcurl's own (".../INBOX;UIDVALIDITY=v/;UID=n"), for
// larger messages and after a failed batch, and it sets \Seen; a server
// changes a flag far faster for a few dozen messages in one command than
// one at a time (on a Maildir server each change renames a file). So an
// unread message about to be fetched singly is marked read together with
// the unread ones listed after it that are fetched singly too, and the
// whole set is marked unread again once fetched, at the latest before the
// store does anything else or is destroyed. Only moving a message (once its
// reply has been consumed) marks it read for good. Moves use UID MOVE, or
// UID COPY, \Deleted and UID EXPUNGE on servers without MOVE; the Processed
// and Skipped folders are created on first use. Keys look like
// "INBOX;UIDVALIDITY=v;UID=n". Commands that list many messages are sent
// for a few dozen at a time: libcurl counts every untagged line against its
// limit on response headers. Failures throw TransportError (see
// transport.h).
#pragma once

#include "emailaccess/curl_session.h"
#include "emailaccess/imap_protocol.h"
#include "emailaccess/transport.h"

#include <map>
#include <optional>
#include <set>

namespace emailaccess {

class ImapStore : public IMailStore {
 public:
  ImapStore(const Config& config, EventLog& log);
  // Marks the messages read so far unread again; a failure is only logged.
  ~ImapStore() override;

  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool MoveToProcessed(const std::string& key) override;
  bool MoveToSkipped(const std::string& key) override;
  // Logs in, reports TLS, the login, the mailbox and both folders; creates
  // and moves nothing.
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  // A custom command, in the mailbox (selected through the URL) or outside.
  CurlResult Command(const std::string& action, const std::string& command, bool inMailbox);
  std::uint32_t UidValidity();
  const std::set<std::string>& Capabilities();
  // The UIDs of the mailbox's messages not marked deleted.
  std::set<std::uint32_t>& Undeleted();
  // UID SEARCH with `criteria`, compact (ESEARCH) where the server can.
  std::vector<std::uint32_t> Search(const std::string& action, const std::string& criteria);
  // Fetches `uid` and the small messages listed after it in one command
  // into m_prefetched; leaves them out when that fails.
  void FetchAhead(std::uint32_t uid);
  // Whether `uid` of the listing may go into such a batch.
  bool Batchable(std::uint32_t uid) const;
  // Marks `uid` and the unread messages listed after it that are fetched
  // singly too read, one batch.
  void MarkAhead(std::uint32_t uid);
  // Marks the current batch unread again.
  void RestoreUnread();
  bool FolderExists(const std::string& folder);
  void EnsureFolder(const std::string& folder);
  // The key's UID when it names a message of this mailbox as it is now.
  std::optional<std::uint32_t> OwnUid(const std::string& key);
  bool MoveTo(const std::string& key, const std::string& folder);

  const ImapSettings& m_settings;
  EventLog& m_log;
  CurlSession m_session;
  std::string m_mailboxUrl;
  std::string m_quotedMailbox;
  std::uint32_t m_uidValidity = 0;
  std::optional<std::set<std::string>> m_capabilities;
  std::optional<std::set<std::uint32_t>> m_undeleted;
  std::set<std::string> m_folders;            // known to exist
  std::vector<std::uint32_t> m_listed;         // UIDs of the last listing, in order
  std::map<std::uint32_t, bool> m_seenBefore;  // UID -> \Seen when listed
  std::map<std::uint32_t, std::uint64_t> m_sizes;  // UID -> size when listed
  std::uint32_t m_listedValidity = 0;
  std::map<std::uint32_t, std::string> m_prefetched;  // fetched ahead, not read yet
  std::set<std::uint32_t> m_fetchSingly;              // of a batch that failed
  int m_failedBatches = 0;
  std::set<std::uint32_t> m_batch;             // marked read ahead, to be marked unread again
  std::set<std::uint32_t> m_batchUnfetched;    // those of them not fetched yet
  bool m_toldNoUidplus = false;
};

}  // namespace emailaccess
