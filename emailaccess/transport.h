// How the program reaches the mail system, whatever that is.
//
// IMailSender delivers finished messages; IMailStore is the mailbox replies
// arrive in, with the folders that messages are moved to once dealt with
// (folders.h). A
// message in the store is named by a key that stays the same while the
// message waits (a Maildir file's unique name, later an IMAP UID).
// Nothing is ever deleted through these interfaces: messages are only moved.
// Failures throw TransportError; `temporary()` tells a failure that may pass
// by itself (a server out of reach, a locked mailbox) from one that will not,
// and `connectionFailed()` one that concerns the connection itself (out of
// reach, TLS refused, login denied) from one that concerns a single message:
// after a connection failure nothing else in the run can succeed, so callers
// stop instead of trying every message in turn. A refused login throws
// LoginError. Implementations: maildir/maildir_transport.h,
// smtp/smtp_sender.h, imap/imap_store.h, graph/graph_sender.h, graph/graph_store.h.
#pragma once

#include "emailaccess/folders.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace emailaccess {

enum class FailureScope { Message, Connection };

class TransportError : public std::runtime_error {
 public:
  TransportError(const std::string& what, bool temporary, FailureScope scope = FailureScope::Message)
      : std::runtime_error(what), m_temporary(temporary), m_scope(scope) {}
  bool temporary() const { return m_temporary; }
  bool connectionFailed() const { return m_scope == FailureScope::Connection; }

 private:
  bool m_temporary;
  FailureScope m_scope;
};

// The server refused the user name or password: a setting to correct.
class LoginError : public TransportError {
 public:
  explicit LoginError(const std::string& what) : TransportError(what, false, FailureScope::Connection) {}
};

// The server took the whole message but its answer never came: the person
// probably has it, and sending it again could give them a second copy.
class AnswerLost : public TransportError {
 public:
  explicit AnswerLost(const std::string& what) : TransportError(what, false) {}
};

// The server holds this account's sending back: its rate limit for now
// (Throttled) or the account's quota (QuotaUsedUp). It is not out of reach,
// and no further message can pass now; `brief` is the reason in a few words
// for each message kept back, what() the whole story, the server's answer
// with every line of it; `askedSeconds` the wait the server named (an HTTP
// Retry-After), -1 when it named none.
class SendingHeld : public TransportError {
 public:
  enum class Why { Throttled, QuotaUsedUp };
  SendingHeld(const std::string& what, Why why, std::string brief, int askedSeconds = -1)
      : TransportError(what, true, FailureScope::Connection),
        m_why(why),
        m_brief(std::move(brief)),
        m_askedSeconds(askedSeconds) {}
  Why why() const { return m_why; }
  const std::string& brief() const { return m_brief; }
  int askedSeconds() const { return m_askedSeconds; }

 private:
  Why m_why;
  std::string m_brief;
  int m_askedSeconds;
};

// One line of the --check report.
struct CheckFinding {
  bool ok = true;
  std::string text;
};

class IMailSender {
 public:
  virtual ~IMailSender() = default;
  // Hands one finished message (CR LF line ends) over for delivery to
  // `recipient`. Returns where it went, for the log.
  virtual std::string Send(const std::string& recipient, const std::string& message) = 0;
  // Where the messages it delivers go, in the office's words, after a count:
  // "sent through smtp.example.org".
  virtual std::string Route() const = 0;
  // False for a sender that writes the message anew (its own Message-ID
  // and all) from the parts of the one it is given.
  virtual bool KeepsMessageId() const { return true; }
  virtual void Check(std::vector<CheckFinding>& findings) = 0;
};

struct StoredMessage {
  std::string key;
  std::int64_t arrivalNs = 0;  // when it arrived, nanoseconds since 1970 (UTC)
  std::int64_t size = -1;      // in bytes, as the store tells it without reading the message; -1: not known
};

class IMailStore {
 public:
  virtual ~IMailStore() = default;
  // The waiting messages, in order of arrival. A store may leave out those
  // that cannot contain `subject` in their subject or text (a server-side
  // search: a delivery report names the subject of the mailing it returns
  // only in its text); callers still check every message themselves, since
  // servers search differently.
  virtual std::vector<StoredMessage> ListWaiting(const std::string& subject) = 0;
  // True when the message is still waiting.
  virtual bool IsWaiting(const std::string& key) = 0;
  virtual std::string Read(const std::string& key) = 0;
  // Files the message into `folder` (folders.h): read, except in a folder
  // left for a person. False when the message is no longer waiting
  // (someone else moved it), true when it was moved.
  virtual bool Move(const std::string& key, Folder folder) = 0;
  // An earlier run may have begun to move this message and been cut off: a
  // store that moves in several steps looks at what is done already instead
  // of doing it again. A store that moves in one step needs nothing.
  virtual void NoteEarlierFiling(const std::string& /*key*/) {}
  // The moves about to be asked for, in order: a store that files several
  // messages with one request gathers them. Each is still asked for by Move,
  // which gives its outcome.
  virtual void WillMove(const std::vector<std::pair<std::string, Folder>>& /*moves*/) {}
  virtual void Check(std::vector<CheckFinding>& findings) = 0;
};

}  // namespace emailaccess
