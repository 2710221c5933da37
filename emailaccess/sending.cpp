#include "emailaccess/sending.h"

#include "emailaccess/message/gmime_support.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/message/text_encoding.h"
#include "platform/durable_file.h"
#include "platform/files.h"

#include <chrono>
#include <set>
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

std::int64_t SendRun::Now() const {
  if (m_clock) return m_clock();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string SendRun::Queue(const std::string& who, const std::string& message, const std::string& why) {
  const std::string path = m_queue->Deliver(message);
  m_log.Info("not sent to " + who + " for now (" + why + "); kept for a later run in " + path);
  ++m_outcome.queued;
  m_outcome.whyQueued = why;
  return MaildirKey(path.substr(path.find_last_of("/\\") + 1));
}

void SendRun::HoldForPace() {
  if (!m_window || !m_queue || !m_stopped.empty()) return;
  const std::int64_t now = Now();
  const Holdback why = m_window->HeldBy(now);
  m_outcome.heldBy = why;
  switch (why) {
    case Holdback::None:
      return;
    case Holdback::Window:
      m_stopped = "held back by the pace";
      m_outcome.paced = true;
      return;
    case Holdback::DayCap:
      m_stopped = "held back by the day's sending limit";
      m_outcome.paced = true;
      return;
    case Holdback::Quota:
    case Holdback::Throttled:
      // An earlier run met the provider's limit: it is not asked again before.
      m_stopped = why == Holdback::Quota ? "held back until the account's sending quota frees"
                                         : "held back by the server's sending rate limit";
      m_log.Info("sending is held until " + LocalClockIn(m_window->NextSendAllowed(now) - now) + " (" +
                 (why == Holdback::Quota ? "the account's sending quota was used up" : "the server asked to slow down") +
                 "); nothing is sent before");
      return;
  }
}

void SendRun::NoteSent() {
  if (m_window) m_window->Note(Now());
}

void SendRun::SavePace() noexcept {
  if (!m_window || m_pacePath.empty()) return;
  try {
    std::string why;
    if (!platform::ReplaceFileAtomically(m_pacePath, m_window->Save(), &why)) {
      m_log.Warning("cannot keep the sending times in " + m_pacePath + " (" + why + "); the next run may go faster");
    }
  } catch (const std::exception&) {
    // Out of memory while noting the times: the next run may go faster.
  }
}

void SendRun::Keep() noexcept {
  try {
    if (m_ledger) m_ledger->Commit(Now());
  } catch (const std::exception& e) {
    // The hand-overs were marked before they happened: a later run counts
    // them as probably delivered rather than sending them again.
    m_log.Error(e.what());
  }
  SavePace();
}

void SendRun::MarkHandingOver(LedgerEntry& entry, const std::string& queueKey) {
  const std::int64_t now = Now();
  m_ledger->Mark(entry, LedgerState::HandingOver, now, queueKey);
  m_ledger->Commit(now);
  // Where the pace holds anything back, what went out counts for the next
  // run even when this one is cut short.
  if (m_window && m_window->pace().limited()) SavePace();
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
    const bool quota = e.why() == SendingHeld::Why::QuotaUsedUp;
    std::string until;
    if (m_window) {
      const std::int64_t now = Now();
      if (quota) m_window->HoldForQuota(now);
      else m_window->HoldForThrottling(now, e.askedSeconds());
      until = "; sending is held until " + LocalClockIn(m_window->NextSendAllowed(now) - now);
    }
    // Said once; every message kept back after it names the reason briefly.
    m_log.Warning(std::string(e.what()) + "; this message and the rest stay queued and go out with a later run" + until);
    m_stopped = e.brief();
    m_outcome.held = e.what();
    m_outcome.heldBy = quota ? Holdback::Quota : Holdback::Throttled;
    why = e.brief();
    return Delivery::Deferred;
  } catch (const TransportError& e) {
    if (m_queue && e.temporary()) {
      if (e.connectionFailed()) {
        m_stopped = "the server is out of reach";
        m_outcome.outOfReach = true;
      }
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

SendRun::Delivery SendRun::DeliverNoted(LedgerEntry* entry, const std::string& queueKey, const std::string& who,
                                        const std::string& address, const std::string& message, std::string& why) {
  try {
    const Delivery delivery = Deliver(who, address, message, why);
    std::string key = queueKey;
    if (delivery == Delivery::Deferred && key.empty()) key = Queue(who, message, why);
    if (entry) m_ledger->Mark(*entry, StateAfter(delivery), Now(), key);
    return delivery;
  } catch (const TransportError&) {
    // The transport says it did not take the message (or the queue did not):
    // nobody has it, and a queued one still waits.
    if (entry && queueKey.empty()) m_ledger->Remove(*entry);
    if (entry && !queueKey.empty()) m_ledger->Mark(*entry, LedgerState::Queued, Now(), queueKey);
    throw;
  }
}

LedgerState SendRun::StateAfter(Delivery delivery) {
  switch (delivery) {
    case Delivery::Sent: return LedgerState::Sent;
    case Delivery::AnswerLost: return LedgerState::AnswerLost;
    case Delivery::Deferred: return LedgerState::Queued;
    case Delivery::Refused: break;
  }
  return LedgerState::Refused;
}

void SendRun::Recover() {
  if (!m_ledger || m_recovered) return;
  m_recovered = true;
  const std::int64_t now = Now();
  std::map<std::string, std::string> paths;
  if (m_queue) m_queue->List(&paths);
  // Queue files no entry names, by their recipient: a run cut short while
  // it queued the rest of a mailing wrote some before their names.
  std::map<std::string, std::vector<std::string>> unnamed;
  bool unnamedListed = false;
  const auto listUnnamed = [&] {
    std::set<std::string> named;
    for (const LedgerEntry* entry : m_ledger->Entries()) named.insert(entry->queueKey);
    for (const auto& [key, path] : paths) {
      std::string message;
      if (!named.count(key) && platform::ReadWholeFile(path, message)) {
        unnamed[AsciiLower(RecipientOfMessage(message))].push_back(key);
      }
    }
    unnamedListed = true;
  };
  std::vector<const LedgerEntry*> gone;
  for (LedgerEntry* entry : m_ledger->Entries()) {
    const std::string what = entry->address + " (" + entry->mailing + ")";
    if (entry->state == LedgerState::HandingOver) {
      m_log.Warning(what + " was being handed over when an earlier run was cut short: it probably has it, and it is "
                           "not sent again by itself");
      if (const auto file = paths.find(entry->queueKey); file != paths.end()) platform::RemoveFile(file->second);
      m_ledger->Mark(*entry, LedgerState::AnswerLost, now, entry->queueKey);
      ++m_outcome.answerLost;
    } else if (entry->state == LedgerState::Queued && m_queue) {
      if (entry->queueKey.empty()) {
        if (!unnamedListed) listUnnamed();
        std::vector<std::string>& keys = unnamed[AsciiLower(entry->address)];
        if (!keys.empty()) {
          m_ledger->Mark(*entry, LedgerState::Queued, entry->stateSet, keys.back());
          keys.pop_back();
          continue;
        }
      } else if (paths.count(entry->queueKey)) {
        continue;
      }
      m_log.Warning(what + " is not in the queue " + m_queue->path() +
                    " (an earlier run was cut short, or it was taken out): not sent; sending the mailing again "
                    "reaches it");
      gone.push_back(entry);
    }
  }
  for (const LedgerEntry* entry : gone) m_ledger->Remove(*entry);
}

void SendRun::SendQueued() {
  if (!m_queue) return;
  Recover();
  struct KeepOnExit {
    SendRun& run;
    ~KeepOnExit() { run.Keep(); }
  } keep{*this};
  std::map<std::string, std::string> paths;
  const std::vector<StoredMessage> waiting = m_queue->List(&paths);
  if (!waiting.empty()) m_log.Info(std::to_string(waiting.size()) + " queued message(s) in " + m_queue->path());
  std::map<std::string, LedgerEntry*> entries;  // by queue file
  if (m_ledger) {
    for (LedgerEntry* entry : m_ledger->Entries()) {
      if (!entry->queueKey.empty()) entries[entry->queueKey] = entry;
    }
  }
  for (const StoredMessage& stored : waiting) {
    const std::string& path = paths[stored.key];
    const auto found = entries.find(stored.key);
    LedgerEntry* entry = found == entries.end() ? nullptr : found->second;
    if (entry && entry->state != LedgerState::Queued) {
      // Settled before it could leave the queue: it is not sent again.
      platform::RemoveFile(path);
      continue;
    }
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
    // A message queued by an older version has no entry: it is sent once, as then.
    if (entry) MarkHandingOver(*entry, stored.key);
    const Delivery delivery = DeliverNoted(entry, stored.key, "queued " + stored.key + " for " + address, address, message, why);
    switch (delivery) {
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

void SendRun::QueueRest(std::vector<Pending>& rest) {
  if (rest.empty()) return;
  // Noted before the files are written, so that a run cut short in between
  // leaves entries that claim the files it wrote (Recover).
  if (m_ledger) m_ledger->Commit(Now());
  for (Pending& pending : rest) {
    const std::string key = Queue(pending.described, pending.message, m_stopped);
    if (pending.entry) m_ledger->Mark(*pending.entry, LedgerState::Queued, Now(), key);
  }
}

void SendRun::SendExchangeFile(const Mailbox& from, const std::string& exchangeFile, const std::string& subject,
                               int operation) {
  std::string text, why;
  if (!platform::ReadWholeFile(exchangeFile, text, &why)) throw std::runtime_error("cannot read the exchange file: " + why);
  exchange::Outgoing outgoing;
  if (!ReadOutgoingExchange(text, outgoing, why)) throw ExchangeFileRefused(exchangeFile + ": nothing sent: " + why);

  // The subject is one header line, whatever the caller's text holds.
  const std::string cleanSubject = SingleLine(Utf8OrWindows1252(subject));
  const std::string mailing =
      outgoing.mailing.empty() ? "operation " + std::to_string(operation) + " " + cleanSubject : outgoing.mailing;
  Recover();
  m_beforeMailing = m_outcome;
  if (outgoing.recipients.empty()) m_log.Info("no recipients in " + exchangeFile + "; nothing sent");
  const auto now = std::chrono::system_clock::now();
  if (m_ledger && !m_ledger->BeginRound(mailing, Now())) {
    m_log.Info("\"" + mailing + "\" was mailed less than " + std::to_string(m_ledger->roundSeconds() / (24 * 3600)) +
               " days ago: only those who have none of it yet get it");
  }
  std::vector<SentMailing> sent;
  std::vector<Pending> rest;
  // What went out before a failure that ends the run is kept too.
  struct KeepOnExit {
    SendRun& run;
    std::vector<SentMailing>& sent;
    std::chrono::system_clock::time_point now;
    ~KeepOnExit() {
      run.RecordSent(sent, now);
      run.Keep();
    }
  } keep{*this, sent, now};
  for (const exchange::Recipient& recipient : outgoing.recipients) {
    const std::string who = recipient.name.empty() ? recipient.address : recipient.name + " <" + recipient.address + ">";
    if (!IsPlainAddress(recipient.address)) {
      m_log.Error("recipient skipped, not an e-mail address: \"" + who + "\"");
      ++m_outcome.invalidRecipients;
      continue;
    }
    LedgerEntry* entry = m_ledger ? m_ledger->Find(mailing, recipient.address) : nullptr;
    if (entry && entry->HasIt()) {
      m_log.Info("not sent again to " + who + ": has it or has it coming (" + LedgerStateName(entry->state) + ")");
      ++m_outcome.alreadyHave;
      continue;
    }
    ComposedMessage message =
        ComposeMessage(from, {recipient.name, recipient.address}, cleanSubject, outgoing.body, now);
    const std::string described = who + ", subject \"" + cleanSubject + "\"" +
                                  (m_sender.KeepsMessageId() ? ", Message-ID <" + message.messageId + ">" : "");
    const SentMailing registered{std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count(),
                                 message.messageId, recipient.address, cleanSubject};
    HoldForPace();
    if (!m_stopped.empty()) {
      // In the ledger at once, so that the address listed twice is queued once.
      if (m_ledger) entry = &m_ledger->Set(mailing, recipient.address, LedgerState::Queued, Now());
      rest.push_back({described, std::move(message.data), entry});
      sent.push_back(registered);
      continue;
    }
    if (m_ledger) {
      entry = &m_ledger->Set(mailing, recipient.address, LedgerState::HandingOver, Now());
      MarkHandingOver(*entry);
    }
    if (DeliverNoted(entry, {}, described, recipient.address, message.data, why) == Delivery::Refused) {
      continue;  // never on its way: no report can come back
    }
    sent.push_back(registered);
  }
  QueueRest(rest);
}

std::string SendRun::OfficeLine(const std::string& server) const {
  const SendOutcome& all = m_outcome;
  const SendOutcome& before = m_beforeMailing;
  OfficeFacts facts;
  facts.sent = all.sent - before.sent + all.answerLost - before.answerLost;
  facts.waiting = all.queued - before.queued;
  facts.listed = facts.sent + facts.waiting + all.failed - before.failed;
  facts.alreadyHave = all.alreadyHave - before.alreadyHave;
  facts.heldBy = all.heldBy;
  facts.outOfReach = all.outOfReach;
  facts.provider = server;
  if (m_window) {
    const Pace& pace = m_window->pace();
    if (!pace.provider.empty()) facts.provider = pace.provider;
    facts.paceTold = pace.Told();
    const std::int64_t now = Now();
    if (facts.waiting > 0 && (all.heldBy != Holdback::None)) {
      // A day's limit frees one message at a time: the office hears when
      // they start going; otherwise when the last is out.
      const bool daily = all.heldBy == Holdback::DayCap || all.heldBy == Holdback::Quota;
      const std::int64_t when = daily ? m_window->NextSendAllowed(now) : m_window->AllGoneBy(now, all.queued);
      facts.when = LocalClockIn(when - now);
    }
  }
  return OfficeWords(facts);
}

namespace {

// "1 already has", "2 already have": the count with its verb.
std::string Counted(int count, const char* one, const char* more) {
  return std::to_string(count) + " " + (count == 1 ? one : more);
}

}  // namespace

std::string OfficeWords(const OfficeFacts& facts) {
  const std::string have =
      facts.alreadyHave > 0 ? Counted(facts.alreadyHave, "already has it or has it coming", "already have it or have it coming")
                            : "";
  if (facts.waiting == 0) return have.empty() ? "" : have + ", " + std::to_string(facts.sent) + " sent now";
  const bool one = facts.waiting == 1;
  const std::string others = one ? "the other one goes out" : "the other " + std::to_string(facts.waiting) + " go out";
  const std::string alone = one ? " by itself" : " by themselves";
  const std::string byThemselves = alone + (facts.when.empty() ? " later" : " by about " + facts.when);
  std::string line = (have.empty() ? "" : have + "; ") + std::to_string(facts.sent) + " of " +
                     std::to_string(facts.listed) + " sent; ";
  switch (facts.heldBy) {
    case Holdback::Window:
      line += facts.provider + " takes " + facts.paceTold + ", " + others + byThemselves;
      break;
    case Holdback::DayCap:
    case Holdback::Quota:
      line += facts.provider + "'s daily sending limit is reached, " + others +
              (facts.when.empty() ? alone + " later" : " after " + facts.when);
      break;
    case Holdback::Throttled:
      line += facts.provider + " asks to slow down, " + others + byThemselves;
      break;
    case Holdback::None:
      line += facts.outOfReach ? facts.provider + " cannot be reached now, " + others + alone + " once it can"
                               : others + alone + " later";
      break;
  }
  return line + ". Do not send it again: nobody gets it twice.";
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
