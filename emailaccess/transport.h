// How the program reaches the mail system, whatever that is.
//
// IMailSender delivers finished messages; IMailStore is the mailbox replies
// arrive in, with the two folders that messages are moved to once dealt
// with. A message in the store is named by a key that stays the same while
// the message waits (a Maildir file's unique name, later an IMAP UID).
// Nothing is ever deleted through these interfaces: messages are only moved.
// Failures throw TransportError; `temporary()` tells a failure that may pass
// by itself (a server out of reach, a locked mailbox) from one that will not.
// Implementations: maildir_transport.h (SMTP and IMAP to follow).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace emailaccess {

class TransportError : public std::runtime_error {
 public:
  TransportError(const std::string& what, bool temporary) : std::runtime_error(what), m_temporary(temporary) {}
  bool temporary() const { return m_temporary; }

 private:
  bool m_temporary;
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
  virtual void Check(std::vector<CheckFinding>& findings) = 0;
};

struct StoredMessage {
  std::string key;
  std::int64_t arrivalNs = 0;  // when it arrived, nanoseconds since 1970 (UTC)
};

class IMailStore {
 public:
  virtual ~IMailStore() = default;
  // The waiting messages, in order of arrival.
  virtual std::vector<StoredMessage> ListWaiting() = 0;
  // True when the message is still waiting.
  virtual bool IsWaiting(const std::string& key) = 0;
  virtual std::string Read(const std::string& key) = 0;
  // Both return false when the message is no longer waiting (someone else
  // moved it), true when it was moved.
  virtual bool MoveToProcessed(const std::string& key) = 0;
  virtual bool MoveToSkipped(const std::string& key) = 0;
  virtual void Check(std::vector<CheckFinding>& findings) = 0;
};

}  // namespace emailaccess
