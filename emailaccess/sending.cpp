#include "emailaccess/sending.h"

#include "emailaccess/message/gmime_support.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/message/text_encoding.h"
#include "platform/files.h"

#include <chrono>
#include <stdexcept>

namespace emailaccess {

bool ReadOutgoingExchange(std::string_view fileText, exchange::Outgoing& out, std::string& error) {
  if (!exchange::ReadOutgoing(CanonicalCrlf(fileText), out, error)) return false;
  for (exchange::Recipient& recipient : out.recipients) {
    recipient.name = SingleLine(Utf8OrWindows1252(recipient.name));
    recipient.address = SingleLine(Utf8OrWindows1252(recipient.address));
  }
  out.mailing = SingleLine(Utf8OrWindows1252(out.mailing));
  out.body = Utf8OrWindows1252(out.body);
  return true;
}

std::string RecipientOfMessage(const std::string& message) { return RecipientMailboxOfMessage(message).address; }

SendRun::SendRun(IMailSender& sender, EventLog& log, MaildirFolder* queue)
    : m_sender(sender), m_log(log), m_queue(queue) {
  m_outcome.temporary = true;
}

void SendRun::Queue(const std::string& who, const std::string& message, const std::string& why) {
  const std::string path = m_queue->Deliver(message);
  m_log.Info("not sent to " + who + " for now (" + why + "); kept for a later run in " + path);
  ++m_outcome.queued;
  m_outcome.whyQueued = why;
}

namespace {
std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}
}  // namespace

void SendRun::HoldForPace() {
  if (!m_window || !m_queue || !m_stopped.empty() || m_window->Allows(NowSeconds())) return;
  m_stopped = "held back by the pace";
  m_outcome.paced = true;
}

void SendRun::NoteSent() {
  if (m_window) m_window->Note(NowSeconds());
}

SendRun::Delivery SendRun::Deliver(const std::string& who, const std::string& address, const std::string& message,
                                   std::string& why) {
  try {
    const std::string where = m_sender.Send(address, message);
    m_log.Info("sent to " + who + ", " + where);
    ++m_outcome.sent;
    NoteSent();
    return Delivery::Sent;
  } catch (const AnswerLost& e) {
    // Sending it again could give the person a second copy.
    m_log.Warning("handed over, answer lost: " + who + " probably has it (" + e.what() +
                  "); it is not sent again by itself");
    ++m_outcome.answerLost;
    NoteSent();
    return Delivery::AnswerLost;
  } catch (const SendingHeld& e) {
    if (!m_queue) throw;
    // Said once; every message kept back after it names the reason briefly.
    m_log.Warning(std::string(e.what()) + "; this message and the rest stay queued and go out with a later run");
    m_stopped = e.brief();
    m_outcome.held = e.what();
    why = e.brief();
    return Delivery::Deferred;
  } catch (const TransportError& e) {
    if (m_queue && e.temporary()) {
      if (e.connectionFailed()) m_stopped = "the server is out of reach";
      why = e.what();
      return Delivery::Deferred;
    }
    // Every further message would meet the same refusal or the same silence.
    if (e.connectionFailed()) throw;
    m_log.Error("cannot send to " + who + ": " + e.what());
    ++m_outcome.failed;
    m_outcome.temporary = m_outcome.temporary && e.temporary();
    return Delivery::Refused;
  }
}

void SendRun::SendQueued() {
  if (!m_queue) return;
  std::map<std::string, std::string> paths;
  const std::vector<StoredMessage> waiting = m_queue->List(&paths);
  if (!waiting.empty()) m_log.Info(std::to_string(waiting.size()) + " queued message(s) in " + m_queue->path());
  for (const StoredMessage& stored : waiting) {
    const std::string& path = paths[stored.key];
    std::string message, why;
    HoldForPace();
    if (!m_stopped.empty()) {
      ++m_outcome.queued;
      continue;
    }
    if (!platform::ReadWholeFile(path, message, &why)) {
      m_log.Error("cannot read the queued message " + path + ": " + why);
      ++m_outcome.failed;
      continue;
    }
    const std::string address = RecipientOfMessage(message);
    if (address.empty()) {
      m_log.Error("the queued message " + path + " names no recipient; left in the queue");
      ++m_outcome.failed;
      continue;
    }
    switch (Deliver("queued " + stored.key + " for " + address, address, message, why)) {
      case Delivery::Deferred:
        m_log.Info("queued " + stored.key + " for " + address + " still not sent (" + why + ")");
        ++m_outcome.queued;
        m_outcome.whyQueued = why;
        break;
      case Delivery::Sent:
      case Delivery::AnswerLost:  // probably delivered: never sent again by itself
      case Delivery::Refused:     // logged as failed: a refusal does not pass by waiting
        platform::RemoveFile(path);
        break;
    }
  }
}

void SendRun::SendExchangeFile(const Mailbox& from, const std::string& exchangeFile, const std::string& subject) {
  std::string text, why;
  if (!platform::ReadWholeFile(exchangeFile, text, &why)) throw std::runtime_error("cannot read the exchange file: " + why);
  exchange::Outgoing outgoing;
  if (!ReadOutgoingExchange(text, outgoing, why)) throw ExchangeFileRefused(exchangeFile + ": nothing sent: " + why);

  // The subject is one header line, whatever the caller's text holds.
  const std::string cleanSubject = SingleLine(Utf8OrWindows1252(subject));
  if (outgoing.recipients.empty()) m_log.Info("no recipients in " + exchangeFile + "; nothing sent");
  const auto now = std::chrono::system_clock::now();
  std::vector<SentMailing> sent;
  // What went out before a failure that ends the run is kept too.
  struct KeepOnExit {
    SendRun& run;
    std::vector<SentMailing>& sent;
    std::chrono::system_clock::time_point now;
    ~KeepOnExit() { run.RecordSent(sent, now); }
  } keep{*this, sent, now};
  for (const exchange::Recipient& recipient : outgoing.recipients) {
    const std::string who = recipient.name.empty() ? recipient.address : recipient.name + " <" + recipient.address + ">";
    if (!IsPlainAddress(recipient.address)) {
      m_log.Error("recipient skipped, not an e-mail address: \"" + who + "\"");
      ++m_outcome.invalidRecipients;
      continue;
    }
    ComposedMessage message =
        ComposeMessage(from, {recipient.name, recipient.address}, cleanSubject, outgoing.body, now);
    const std::string described = who + ", subject \"" + cleanSubject + "\"" +
                                  (m_sender.KeepsMessageId() ? ", Message-ID <" + message.messageId + ">" : "");
    std::string why;
    HoldForPace();
    if (!m_stopped.empty()) {
      Queue(described, message.data, m_stopped);
    } else {
      switch (Deliver(described, recipient.address, message.data, why)) {
        case Delivery::Deferred:
          Queue(described, message.data, why);
          break;
        case Delivery::Refused:
          continue;  // never on its way: no report can come back
        case Delivery::Sent:
        case Delivery::AnswerLost:
          break;
      }
    }
    sent.push_back({std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count(), message.messageId,
                    recipient.address, cleanSubject});
  }
}

void SendRun::RecordSent(const std::vector<SentMailing>& sent, std::chrono::system_clock::time_point now) noexcept {
  if (m_sentRegister.empty() || sent.empty()) return;
  try {
    RecordSentMailings(m_sentRegister, sent,
                       std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count(),
                       m_sentKeptDays);
  } catch (const std::runtime_error& e) {
    // The mail is on its way all the same; its reports are still known by
    // their subject.
    m_log.Warning(std::string(e.what()) + "; delivery reports of this mailing are known by their subject only");
  } catch (const std::exception&) {
    // Out of memory while noting what was sent: nothing more to do here.
  }
}

SendOutcome SendFromExchangeFile(IMailSender& sender, EventLog& log, const Mailbox& from,
                                 const std::string& exchangeFile, const std::string& subject) {
  SendRun run(sender, log, nullptr);
  run.SendExchangeFile(from, exchangeFile, subject);
  SendOutcome outcome = run.outcome();
  if (outcome.failed == 0) outcome.temporary = false;
  return outcome;
}

}  // namespace emailaccess
