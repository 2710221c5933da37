// One connection to the IMAP server: every IMAP command the program sends
// goes through one of these. libcurl sets the connection up (TLS, the login
// or the OAuth 2.0 token) and hands it over (CURLOPT_CONNECT_ONLY); the
// commands, their tags, the answers and their literals, the capabilities and
// the retries are this class's.
//
// libcurl's own IMAP requests would not do: it hands a custom command's
// answer over line by line and counts the lines against its limit on
// response headers, several times over, so an answer of a few dozen
// kilobytes can fail; and its own fetch asks for BODY[], which marks the
// message read. Here every answer is read by the length each literal
// announces, straight into one buffer, so neither size nor a message line
// that looks like the command's end cuts an answer short; a round trip is
// the only cost of a command.
//
// The connection works in one mailbox, its home: opened read-only (EXAMINE)
// for a reading connection, so that no read, whatever happens to the
// connection or the process, ever sets \Seen, or read-write (SELECT) for
// filing. A mailbox is opened when a command first needs it, so commands
// outside any (LIST, STATUS, CREATE) work whether it exists or not; a
// command in another folder opens that one read-only, and the home is
// opened again when next needed.
//
// A connection lost inside an exchange is opened again and the command sent
// again, by the program's one rule (retry.h), and so is a command the server
// refuses for the moment ([UNAVAILABLE], [INUSE]); then TransportError
// (temporary). A command that must not be repeated blindly goes through
// CommandOnce. A refusal throws TransportError (message) with the server's
// line.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/imap/imap_protocol.h"
#include "emailaccess/signin/curl_session.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

class ImapConnection {
 public:
  // `home` is the mailbox's name as a quoted string.
  ImapConnection(const Config& config, EventLog& log, std::string home, bool readOnly);
  ~ImapConnection();
  ImapConnection(const ImapConnection&) = delete;
  ImapConnection& operator=(const ImapConnection&) = delete;

  // Where a command runs: in the home mailbox, or outside any mailbox.
  enum class In { Home, NoMailbox };

  // A command whose answer must end in OK; the whole answer, its untagged
  // lines and then its tagged line. `what` names it in messages.
  std::string Command(const std::string& what, const std::string& command, In in = In::Home);
  // The same in another folder (a quoted name), opened read-only.
  std::string CommandIn(const std::string& what, const std::string& command, const std::string& folder);
  // The whole answer whatever it says, a refusal included.
  std::string Answer(const std::string& what, const std::string& command, In in);
  // Sent once, in the home mailbox: a connection lost meanwhile throws
  // TransportError (temporary, connection) without sending it again, since
  // the server may have carried it out. Otherwise as Command.
  std::string CommandOnce(const std::string& what, const std::string& command);
  // UID SEARCH with `criteria` (compact, ESEARCH, where the server can), in
  // the home mailbox, or in another folder (a quoted name).
  std::vector<std::uint32_t> Search(const std::string& what, const std::string& criteria);
  std::vector<std::uint32_t> SearchIn(const std::string& what, const std::string& criteria,
                                      const std::string& folder);
  // The server's capabilities, asked for once per connection object.
  const std::set<std::string>& Capabilities();
  // The UIDVALIDITY of the home mailbox as this connection opened it
  // (opened now if need be).
  std::uint32_t UidValidity();

  // The texts of `sortedUids` under `uidValidity` (or their `section`, such
  // as "HEADER"), as the server sends them; none when the home mailbox now
  // has another UIDVALIDITY. A refusal throws TransportError (message) with
  // the server's line.
  std::vector<FetchedMessage> Fetch(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity,
                                    const std::string& section = "");
  // The flags, sizes and arrival times of `sortedUids` under `uidValidity`
  // (none when the mailbox now has another).
  std::vector<FetchedFlags> Details(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity);
  // Asks for the texts of `sortedUids` now, without waiting for them: the
  // server sends them while the caller works, and the Fetch of the same
  // UIDs that follows reads them. Any other command first reads (and drops)
  // what was asked for. Does nothing when the connection is not open or the
  // mailbox has another UIDVALIDITY; a connection lost here is opened again
  // by that Fetch.
  void FetchLater(const std::vector<std::uint32_t>& sortedUids, std::uint32_t uidValidity);
  // FETCH commands of message texts sent so far.
  int fetches() const { return m_fetches; }

  // For --check: the session records the TLS in use while asked to.
  CurlSession& session() { return m_session; }
  // "IMAP imaps://host/", for messages.
  const std::string& name() const { return m_session.name(); }

 private:
  void Open();
  void Close();
  // Opens `mailbox` (a quoted name; null for none needed) unless it is open.
  void Use(const std::string* mailbox);
  // Sends one tagged command; returns its tag.
  std::string Send(const std::string& command);
  // The whole answer to the command tagged `tag`, its tagged line last; it
  // stays valid until the next call.
  std::string_view Receive(const std::string& tag);
  // Sends one tagged command and returns the whole answer (as Receive).
  std::string_view Exchange(const std::string& command);
  // Reads the answer to a FetchLater nobody fetched.
  void SettleAhead();
  // Runs `work` on an open connection; a connection lost meanwhile is opened
  // again by the retry rule, `what` naming the work.
  template <typename Work>
  auto Retrying(const std::string& what, Work work) -> decltype(work());
  // The answer in `mailbox` (as Use), which must end in OK; a refusal for
  // the moment is tried again.
  std::string Checked(const std::string& what, const std::string& command, const std::string* mailbox);
  const std::string* Where(In in) const { return in == In::Home ? &m_home : nullptr; }
  // Waits until the connection can be read (or written); false after the time limit.
  bool Wait(bool forWriting);

  CurlSession m_session;
  EventLog& m_log;
  NetworkSettings m_network;
  std::string m_serverUrl;
  std::string m_home;
  bool m_readOnly;
  void* m_waiter = nullptr;  // a CURLM, only to wait on the socket portably
  bool m_open = false;
  std::optional<std::string> m_selected;  // the mailbox open, when one is
  std::uint32_t m_uidValidity = 0;        // of the home mailbox, once opened
  unsigned m_tag = 0;
  int m_fetches = 0;
  struct Ahead {
    std::string tag;
    std::string set;  // UIDs asked for, as sent
  };
  std::optional<Ahead> m_ahead;  // a FETCH sent whose answer is not read yet
  std::optional<std::set<std::string>> m_capabilities;
  std::string m_received;  // bytes from the server; m_used of them are valid
  size_t m_used = 0;
  size_t m_answerEnd = 0;  // where the answer Receive returned last ends
};

// The last line of an answer, for messages.
std::string ImapLastLine(std::string_view answer);

}  // namespace emailaccess
