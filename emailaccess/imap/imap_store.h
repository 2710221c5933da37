// The mailbox replies arrive in, on an IMAP server: which messages wait,
// reading them, and filing them into the folders (folders.h). The commands
// go over two connections (imap_connection.h): one reads, with the mailbox
// open read-only, so that fetching never marks a message read; one files,
// opened only when a message is moved (or --check runs), so a fetch that
// files nothing logs in once. Only moving a message (once its reply has been
// consumed) marks it read.
//
// The listing goes over the reading connection: candidates are found with
// UID SEARCH (the subject, in the Subject or anywhere in the text, sent as a
// quoted string, or every message when it cannot be quoted) and the caller
// checks every subject again. A message is read under the UIDVALIDITY of
// its key, so a mailbox that was recreated meanwhile (new UIDVALIDITY) is
// never mistaken for the old one. A round trip per message would cost more
// than the message, so a message about to be read is fetched together with
// those listed after it, up to kBytesPerFetch in one command; as soon as one
// batch has arrived the next is asked for, so that the server sends it while
// the caller reads the messages of the first.
//
// Moves use UID MOVE, or UID COPY, \Deleted and UID EXPUNGE on servers
// without MOVE. A COPY whose answer was lost is not repeated blindly: the
// message is first looked for in the target folder (same Message-ID, size
// and arrival time); so is a message an earlier run may have begun to file
// (NoteEarlierFiling), and one that is in the mailbox marked deleted, which
// such a filing left: it is expunged rather than forgotten. The folders are
// created on first use. Keys look like "INBOX;UIDVALIDITY=v;UID=n".
// Failures throw TransportError (see transport.h).
#pragma once

#include "emailaccess/imap/imap_connection.h"
#include "emailaccess/imap/imap_protocol.h"
#include "emailaccess/transport.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

class ImapStore : public IMailStore {
 public:
  ImapStore(const Config& config, EventLog& log);
  // Logs how many messages were read with how many commands.
  ~ImapStore() override;

  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool Move(const std::string& key, Folder folder) override;
  void NoteEarlierFiling(const std::string& key) override { m_filedBefore.insert(key); }
  // Logs in, reports TLS, the login, the mailbox and both folders; creates
  // and moves nothing.
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  std::uint32_t UidValidity();
  // The UIDs of the mailbox's messages not marked deleted.
  std::set<std::uint32_t>& Undeleted();
  // The connections, opened on first use.
  ImapConnection& Reader();
  ImapConnection& Filer();
  // Fetches `uid` and the messages listed after it in one command into
  // m_prefetched; leaves them to be fetched singly when the server refuses.
  // The batch after it is asked for at once (ImapConnection::FetchLater).
  void FetchAhead(std::uint32_t uid);
  // Fills `batch` (in listing order) with the batchable messages listed from
  // `from` on, up to the limits of one command; returns where it stopped.
  std::vector<std::uint32_t>::const_iterator NextBatch(std::vector<std::uint32_t>::const_iterator from,
                                                       std::vector<std::uint32_t>& batch) const;
  // Whether `uid` of the listing may go into such a batch.
  bool Batchable(std::uint32_t uid) const;
  bool FolderExists(const std::string& folder);
  void EnsureFolder(const std::string& folder);
  // The key's UID when it names a message of this mailbox as it is now.
  std::optional<std::uint32_t> OwnUid(const std::string& key);
  // UID MOVE; false when the server moved nothing (the message is gone).
  bool MoveOnServer(std::uint32_t uid, const std::string& folder);
  // Without MOVE: CopyOnce, then \Deleted and, with UIDPLUS, UID EXPUNGE.
  bool CopyAndExpunge(std::uint32_t uid, const std::string& folder, bool mayBeThere);
  // UID COPY without MOVE; before any second attempt (and the first, with
  // `mayBeThere`) the target is searched for the copy. False when the
  // server copied nothing (the message is gone).
  bool CopyOnce(std::uint32_t uid, const std::string& folder, bool mayBeThere);
  // Whether `folder` holds a copy of `uid`: the same Message-ID, size and
  // arrival time.
  bool CopyIsThere(std::uint32_t uid, const std::string& folder);

  const ImapSettings& m_settings;
  const Config& m_config;
  EventLog& m_log;
  std::string m_quotedMailbox;
  std::uint32_t m_uidValidity = 0;
  std::optional<std::set<std::uint32_t>> m_undeleted;
  std::set<std::string> m_folders;            // known to exist
  std::vector<std::uint32_t> m_listed;         // UIDs of the last listing, in order
  std::map<std::uint32_t, std::uint64_t> m_sizes;  // UID -> size when listed
  std::uint32_t m_listedValidity = 0;
  std::unique_ptr<ImapConnection> m_reader;  // the mailbox read-only
  std::unique_ptr<ImapConnection> m_filer;   // the mailbox read-write
  std::map<std::uint32_t, std::string> m_prefetched;  // fetched ahead, not read yet
  std::set<std::uint32_t> m_fetchSingly;              // of a batch the server refused
  bool m_toldRefusedBatch = false;
  int m_read = 0;                // messages read
  int m_readSingly = 0;          // ... of them with a command of their own
  int m_refusedBatches = 0;
  std::set<std::string> m_filedBefore;  // keys an earlier run may have begun to file
  bool m_toldNoUidplus = false;
};

}  // namespace emailaccess
