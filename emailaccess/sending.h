// Operations 1 and 2: one message per recipient of an outgoing exchange
// file, handed to the mail sender; and the queue of messages that could not
// be sent yet.
//
// A recipient whose address is empty or not an address is skipped and
// logged; the others are still sent. An exchange file that cannot be read
// throws std::runtime_error, one without its body or whose recipients do
// not pair up ExchangeFileRefused, before anything of it is sent. The
// exchange file itself is never changed or removed: it is LvMAPI's to delete.
//
// A SendRun with a queue (a Maildir) loses nothing to a server that is out of
// reach: a message the sender could not deliver for now is put into the
// queue, and once the connection itself has failed every remaining message
// goes straight there without another attempt. SendQueued delivers the queue,
// oldest first; sent messages leave it. A message the server refuses for good
// (5xx) is logged and counted as failed, queued or not. A server that holds
// the sending back (its rate limit, the account's quota: SendingHeld) is
// not out of reach: the run stops sending at once, says why once, and the
// message and the rest wait in the queue. A message handed over whose answer
// was lost (AnswerLost) counts as probably delivered: it is never queued or
// sent again by itself. A failure that
// concerns the connection and will not pass by itself (login refused, TLS
// refused) throws its TransportError: every further message would fail the
// same way. Without a queue, every failed delivery is logged and counted.
#pragma once

#include "emailaccess/message/compose.h"
#include "emailaccess/event_log.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/pace.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/transport.h"
#include "exchange/outgoing.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

// An outgoing exchange file that is not one (no body, recipients that do not
// pair up): bad data, nothing of it is sent. The text names the file.
class ExchangeFileRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An outgoing exchange file's text as this program sends it: read as
// exchange/outgoing.h tells, line breaks made canonical first, then every
// value taken as UTF-8 when valid and as Windows-1252 otherwise; the
// mailing, names and addresses on one line. False, with the reason in `error`, as ReadOutgoing.
bool ReadOutgoingExchange(std::string_view fileText, exchange::Outgoing& out, std::string& error);

struct SendOutcome {
  int sent = 0;
  int invalidRecipients = 0;
  int failed = 0;           // deliveries that failed (without a queue: also those that may pass)
  int queued = 0;           // messages waiting in the queue for a later run
  int answerLost = 0;       // handed over, answer lost: probably delivered
  std::string held;         // why the server held the sending back, when it did
  bool paced = false;       // the pace kept the rest back
  bool temporary = false;   // every failure may pass by itself
  std::string whyQueued;    // the reason the last message went to the queue
};

class SendRun {
 public:
  // `queue` may be null: nothing is queued then.
  SendRun(IMailSender& sender, EventLog& log, MaildirFolder* queue);

  // Sends the messages waiting in the queue.
  void SendQueued();
  // Keeps the Message-ID, recipient and subject of every message the run
  // sends or queues in the sent register at `path` (sent_register.h), so
  // that delivery reports and replies of them are known, for `keptDays`.
  // Without it nothing is kept.
  void KeepSentIn(std::string path, int keptDays = kSentKeptDays) {
    m_sentRegister = std::move(path);
    m_sentKeptDays = keptDays;
  }
  // Keeps to `window` (with a queue only): once it allows no more, the rest
  // waits in the queue. Every message that goes out is noted in it.
  void KeepPace(SlidingWindow& window) { m_window = &window; }
  // Sends the exchange file's message to each of its recipients.
  void SendExchangeFile(const Mailbox& from, const std::string& exchangeFile, const std::string& subject);

  const SendOutcome& outcome() const { return m_outcome; }

 private:
  enum class Delivery { Sent, AnswerLost, Deferred, Refused };
  // Hands one message over. Sent and refused messages are logged and
  // counted; a deferred one (a failure that may pass, with a queue) is the
  // caller's to keep, and `why` says why.
  Delivery Deliver(const std::string& who, const std::string& address, const std::string& message, std::string& why);
  void Queue(const std::string& who, const std::string& message, const std::string& why);
  // Adds the mailings to the sent register; a failure is logged, not thrown.
  void RecordSent(const std::vector<SentMailing>& sent, std::chrono::system_clock::time_point now) noexcept;

  IMailSender& m_sender;
  EventLog& m_log;
  MaildirFolder* m_queue;
  // Stops the run when the pace allows no more now.
  void HoldForPace();
  void NoteSent();

  SlidingWindow* m_window = nullptr;
  std::string m_stopped;  // not empty once nothing more can pass: the reason
  std::string m_sentRegister;
  int m_sentKeptDays = kSentKeptDays;
  SendOutcome m_outcome;
};

// A SendRun without a queue over one exchange file.
SendOutcome SendFromExchangeFile(IMailSender& sender, EventLog& log, const Mailbox& from,
                                 const std::string& exchangeFile, const std::string& subject);

// The address a composed message is for: the address of its To header.
std::string RecipientOfMessage(const std::string& message);

}  // namespace emailaccess
