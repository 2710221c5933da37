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
// not out of reach: the run stops sending at once, says why once and until
// when, and the message and the rest wait in the queue. A message handed over whose answer
// was lost (AnswerLost) counts as probably delivered: it is never queued or
// sent again by itself. A failure that
// concerns the connection and will not pass by itself (login refused, TLS
// refused) throws its TransportError: every further message would fail the
// same way. Without a queue, every failed delivery is logged and counted.
//
// With a ledger (ledger.h), whatever the transport, nobody gets one mailing
// twice: a recipient who already has it or has it coming in the mailing's
// round is left out, every hand-over is marked in the ledger before it
// happens (a message's result and the next one's mark are written
// together), and a mark left by a run that was cut short counts as handed
// over with the answer lost: never sent again by itself. A ledger that
// cannot be written before a hand-over stops the run (std::runtime_error).
#pragma once

#include "emailaccess/message/compose.h"
#include "emailaccess/event_log.h"
#include "emailaccess/ledger.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/pace.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/transport.h"
#include "exchange/outgoing.h"

#include <chrono>
#include <functional>
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
  int alreadyHave = 0;      // left out: they already have it or have it coming (the ledger)
  std::string held;         // why the server held the sending back, when it did
  bool paced = false;       // the pace kept the rest back
  Holdback heldBy = Holdback::None;  // what the pace or the provider keeps the rest back by
  bool outOfReach = false;  // the rest waits for the server to be reached
  bool temporary = false;   // every failure may pass by itself
  std::string whyQueued;    // the reason the last message went to the queue
};

// What the office is told of a mailing, in its own words (LvMAPI copies the
// line into its run log).
struct OfficeFacts {
  int sent = 0;         // sent now, those handed over with the answer lost among them
  int listed = 0;       // the messages of this run: sent, waiting or refused
  int waiting = 0;      // in the queue, those of earlier mailings among them
  int alreadyHave = 0;  // left out: they already have it or have it coming
  Holdback heldBy = Holdback::None;
  bool outOfReach = false;
  std::string provider;  // "Microsoft 365", else the server's name
  std::string paceTold;  // "30 a minute"
  std::string when;      // "10:42", "09:15 tomorrow": when the last goes out, or, for a day's limit, the next
};

// "30 of 300 sent; Microsoft 365 takes 30 a minute, the other 270 go out by
// themselves by about 10:42. Do not send it again: nobody gets it twice.",
// "294 already have it or have it coming, 6 sent now"; empty when every
// message went out at once and nobody was left out.
std::string OfficeWords(const OfficeFacts& facts);

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
  // waits in the queue. Every message that goes out is noted in it, and so
  // is a provider's hold; it is written to `path` (when given) as the run
  // goes on and when it ends.
  void KeepPace(SlidingWindow& window, std::string path = {}) {
    m_window = &window;
    m_pacePath = std::move(path);
  }
  // Keeps to `ledger`: a mailing run again within its round reaches only
  // those who have none of it yet.
  void KeepLedger(Ledger& ledger) { m_ledger = &ledger; }
  // The clock the pace and the ledger go by (unix seconds); the system's
  // unless set.
  void UseClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }
  // Sends the exchange file's message to each of its recipients. The
  // mailing is the one the file names, else "operation `operation` " and
  // the subject.
  void SendExchangeFile(const Mailbox& from, const std::string& exchangeFile, const std::string& subject,
                        int operation = 2);

  const SendOutcome& outcome() const { return m_outcome; }
  // The office's line about the exchange file's mailing (OfficeWords);
  // `server` names the provider when the pace does not.
  std::string OfficeLine(const std::string& server) const;

 private:
  enum class Delivery { Sent, AnswerLost, Deferred, Refused };
  static LedgerState StateAfter(Delivery delivery);
  // A message the run can no longer send, for the queue.
  struct Pending {
    std::string described, message;
    LedgerEntry* entry;  // its entry in the ledger; null without one
  };
  // Hands one message over. Sent and refused messages are logged and
  // counted; a deferred one (a failure that may pass, with a queue) is the
  // caller's to keep, and `why` says why.
  Delivery Deliver(const std::string& who, const std::string& address, const std::string& message, std::string& why);
  // Puts the message into the queue; returns its unique name there.
  std::string Queue(const std::string& who, const std::string& message, const std::string& why);
  // Deliver, for a message whose hand-over is marked in `entry` (may be
  // null), which then says how it went; a deferred message not yet in the
  // queue (no `queueKey`) is put there. A failure the transport throws
  // unmarks it.
  Delivery DeliverNoted(LedgerEntry* entry, const std::string& queueKey, const std::string& who,
                        const std::string& address, const std::string& message, std::string& why);
  // Queues what the run can no longer send, noted in the ledger before and after.
  void QueueRest(std::vector<Pending>& rest);
  // Settles what a run cut short left in the ledger (once per run).
  void Recover();
  // Marks the hand-over in the ledger, written with what came before it.
  void MarkHandingOver(LedgerEntry& entry, const std::string& queueKey = {});
  // Writes the ledger and the pace; for the end of a step, so a failure is
  // logged, not thrown.
  void Keep() noexcept;
  void SavePace() noexcept;
  std::int64_t Now() const;
  // Adds the mailings to the sent register; a failure is logged, not thrown.
  void RecordSent(const std::vector<SentMailing>& sent, std::chrono::system_clock::time_point now) noexcept;

  IMailSender& m_sender;
  EventLog& m_log;
  MaildirFolder* m_queue;
  // Stops the run when the pace allows no more now.
  void HoldForPace();
  void NoteSent();

  SlidingWindow* m_window = nullptr;
  std::string m_pacePath;
  Ledger* m_ledger = nullptr;
  bool m_recovered = false;
  std::function<std::int64_t()> m_clock;
  std::string m_stopped;  // not empty once nothing more can pass: the reason
  SendOutcome m_beforeMailing;  // the outcome when the exchange file's mailing began
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
