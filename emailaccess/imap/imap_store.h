// The mailbox replies arrive in, on an IMAP server, through libcurl.
//
// One CurlSession (one connection, logged in once, only when needed) serves
// the filing; the mailbox is selected through the URL. The listing goes
// over the reading connection (below), so a fetch that files nothing logs
// in once: candidates are found with UID SEARCH (the subject, in the
// Subject or anywhere in the text, sent as a quoted string, or every
// message when it cannot be quoted) and the caller checks every subject
// again. A
// message is read under the UIDVALIDITY of its key, so a mailbox that was
// recreated meanwhile (new UIDVALIDITY) is never mistaken for the old one.
//
// Messages are read on a connection of their own (ImapReader): libcurl hands a
// custom command's answer over line by line and counts the lines against
// its limit on response headers, several times over, so an answer of a few
// dozen kilobytes of messages can fail; and its own fetch (".../;UID=n")
// asks for BODY[], which marks the message read. The reader opens the
// mailbox read-only (EXAMINE) and asks for BODY.PEEK[], so no read, whatever
// happens to the connection or the process, ever sets \Seen; and it reads
// each literal by the length the server announces, so neither size nor a
// message line that looks like the command's end can cut an answer short.
// A round trip per message would cost more than the message, so a message
// about to be read is fetched together with those listed after it, up to
// kBytesPerFetch in one command; as soon as one batch has arrived the next
// is asked for, so that the server sends it while the caller reads the
// messages of the first. Only moving a message (once its reply has been
// consumed) marks it read.
//
// Moves use UID MOVE, or UID COPY, \Deleted and UID EXPUNGE on servers
// without MOVE. A COPY whose answer was lost is not repeated blindly: the
// message is first looked for in the target folder (same Message-ID, size
// and arrival time); so is a message an earlier run may have begun to file
// (NoteEarlierFiling), and one that is in the mailbox marked deleted, which
// such a filing left: it is expunged rather than forgotten. The Processed,
// Skipped, Undeliverable and Needs reading folders are created on first
// use. Keys look like
// "INBOX;UIDVALIDITY=v;UID=n". Commands that list many messages are sent
// for a few dozen at a time: libcurl counts every untagged line against its
// limit on response headers. Failures throw TransportError (see
// transport.h).
#pragma once

#include "emailaccess/signin/curl_session.h"
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

// Reads messages by UID on a connection of its own, which libcurl sets up
// (TLS, login) and hands over (CURLOPT_CONNECT_ONLY); commands and answers
// are this class's, the mailbox is open read-only.
class ImapReader {
 public:
  ImapReader(const Config& config, EventLog& log, std::string quotedMailbox);
  ~ImapReader();
  ImapReader(const ImapReader&) = delete;
  ImapReader& operator=(const ImapReader&) = delete;

  // The texts of `sortedUids` under `uidValidity` (or their `section`, such
  // as "HEADER"), as the server sends them;
  // none when the mailbox now has another UIDVALIDITY. A connection that
  // fails is opened again a few times, with growing waits, then
  // TransportError (connection, temporary); a refusal throws TransportError
  // (message) with the server's line.
  std::vector<FetchedMessage> Fetch(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity,
                                    const std::string& section = "");
  // The UIDVALIDITY of the mailbox as the connection opened it (opened now
  // if need be; failures as Fetch).
  std::uint32_t UidValidity();
  // UID SEARCH with `criteria` (compact where the server can) in the
  // mailbox; a refusal throws TransportError (message) naming `what`.
  std::vector<std::uint32_t> Search(const std::string& what, const std::string& criteria);
  // The flags, sizes and arrival times of `sortedUids` under `uidValidity`
  // (none when the mailbox now has another); failures as Fetch.
  std::vector<FetchedFlags> Details(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity);
  // Asks for the texts of `sortedUids` now, without waiting for them: the
  // server sends them while the caller works, and the Fetch of the same
  // UIDs that follows reads them. Any other command first reads (and drops)
  // what was asked for. Does nothing when the connection is not open or the
  // mailbox has another UIDVALIDITY; a connection lost here is opened again
  // by that Fetch.
  void FetchLater(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity);
  // FETCH commands sent so far.
  int commands() const { return m_commands; }

 private:
  void Open();
  void Close();
  // Sends one tagged command; returns its tag.
  std::string Send(const std::string& command);
  // The whole answer to the command tagged `tag`, its tagged line last; it
  // stays valid until the next call.
  std::string_view Receive(const std::string& tag);
  // Sends one tagged command and returns the whole answer (as Receive).
  std::string_view Exchange(const std::string& command);
  // A command whose answer must end in OK; the whole answer.
  std::string Command(const std::string& what, const std::string& command);
  // Reads the answer to a FetchLater nobody fetched.
  void SettleAhead();
  // Runs `work` on an open connection; a connection lost meanwhile is opened
  // again a few times, with growing waits, then TransportError (connection,
  // temporary) names `what`.
  template <typename Work>
  auto Retrying(const std::string& what, Work work) -> decltype(work());
  // Waits until the connection can be read (or written); false after the time limit.
  bool Wait(bool forWriting);

  CurlSession m_session;
  EventLog& m_log;
  NetworkSettings m_network;
  std::string m_serverUrl;
  std::string m_quotedMailbox;
  void* m_waiter = nullptr;  // a CURLM, only to wait on the socket portably
  bool m_open = false;
  std::uint32_t m_uidValidity = 0;
  unsigned m_tag = 0;
  int m_commands = 0;
  struct Ahead {
    std::string tag;
    std::string set;  // UIDs asked for, as sent
  };
  std::optional<Ahead> m_ahead;  // a FETCH sent whose answer is not read yet
  std::optional<std::set<std::string>> m_capabilities;
  std::string m_received;        // bytes from the server; m_used of them are valid
  size_t m_used = 0;
  size_t m_answerEnd = 0;        // where the answer Receive returned last ends
};

class ImapStore : public IMailStore {
 public:
  ImapStore(const Config& config, EventLog& log);
  // Logs how many messages were read with how many commands.
  ~ImapStore() override;

  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool MoveToProcessed(const std::string& key) override;
  bool MoveToSkipped(const std::string& key) override;
  bool MoveToUndeliverable(const std::string& key) override;
  bool MoveToNeedsReading(const std::string& key) override;
  void NoteEarlierFiling(const std::string& key) override { m_filedBefore.insert(key); }
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
  std::vector<std::uint32_t> Search(const std::string& action, const std::string& criteria,
                                    const std::string& url = {});
  ImapReader& Reader();
  // Fetches `uid` and the messages listed after it in one command into
  // m_prefetched; leaves them to be fetched singly when the server refuses.
  // The batch after it is asked for at once (ImapReader::FetchLater).
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
  // Files the message into `folder`, marked read unless `markSeen` is false.
  bool MoveTo(const std::string& key, const std::string& folder, bool markSeen = true);
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
  CurlSession m_session;
  std::string m_mailboxUrl;
  std::string m_quotedMailbox;
  std::uint32_t m_uidValidity = 0;
  std::optional<std::set<std::string>> m_capabilities;
  std::optional<std::set<std::uint32_t>> m_undeleted;
  std::set<std::string> m_folders;            // known to exist
  std::vector<std::uint32_t> m_listed;         // UIDs of the last listing, in order
  std::map<std::uint32_t, std::uint64_t> m_sizes;  // UID -> size when listed
  std::uint32_t m_listedValidity = 0;
  std::unique_ptr<ImapReader> m_reader;
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
