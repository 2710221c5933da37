#include "emailaccess/intake.h"

#include "emailaccess/message/delivery_report.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/reply_trust.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/message/text_encoding.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "exchange/hand_back.h"
#include "exchange/incoming.h"
#include "util/dates.h"

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <utility>

namespace emailaccess {
namespace {

using exchange::FormatIncomingRecord;
using exchange::HandBackPath;
using exchange::NeutraliseExchangeTags;
using exchange::ParseHandBack;

struct Reply {
  std::string key;
  exchange::IncomingRecord record;
};

// Decides, file by file, what became of the earlier offers: a file that is
// still there or was never completed holds messages not consumed. With
// `reoffer` their records are marked Pending and the files returned, to be
// removed; without it they are left as they are. Every other record is
// marked Consumed.
std::vector<std::string> FindUnconsumedFiles(std::vector<OfferRecord>& records, bool reoffer) {
  std::vector<std::string> files;
  for (const OfferRecord& record : records) {
    if (std::find(files.begin(), files.end(), record.exchangeFile) == files.end()) files.push_back(record.exchangeFile);
  }
  std::vector<std::string> unconsumed;
  for (const std::string& file : files) {
    auto ofFile = [&](const OfferRecord& r) { return r.exchangeFile == file; };
    const bool pending = std::any_of(records.begin(), records.end(),
                                     [&](const OfferRecord& r) { return ofFile(r) && r.status == OfferStatus::Pending; });
    const bool stillThere = platform::FileExists(file);
    if ((stillThere || pending) && !reoffer) continue;
    if (stillThere || pending) unconsumed.push_back(file);
    for (OfferRecord& record : records) {
      if (ofFile(record)) record.status = stillThere || pending ? OfferStatus::Pending : OfferStatus::Consumed;
    }
  }
  return unconsumed;
}

// Removes the files not consumed and forgets their records, so that their
// messages are offered again.
void RemoveUnconsumedFiles(const std::vector<std::string>& unconsumed, std::vector<OfferRecord>& records, EventLog& log,
                           FetchOutcome& outcome) {
  for (const std::string& file : unconsumed) {
    auto ofFile = [&](const OfferRecord& r) { return r.exchangeFile == file; };
    const bool stillThere = platform::RemoveFile(file);
    platform::RemoveFile(platform::PartialFileName(file));
    if (!stillThere && platform::FileExists(file)) {
      // Held by another program past the waiting: its records stay, so the
      // next run removes it and offers its messages then, and the replies'
      // text is not left behind for good.
      log.Warning("cannot remove the exchange file " + file + " yet (in use by another program); the next run does");
      continue;
    }
    // What LvMAPI said of an offer it did not finish is void: the replies
    // are told again when offered again.
    platform::RemoveFile(HandBackPath(file));
    const long count =
        std::count_if(records.begin(), records.end(), [&](const OfferRecord& r) { return ofFile(r) && !r.key.empty(); });
    log.Info(std::string(stillThere ? "exchange file not consumed, removed: " : "exchange file not completed: ") + file +
             "; its " + std::to_string(count) + " message(s) are offered again");
    outcome.reoffered += static_cast<int>(count);
    records.erase(std::remove_if(records.begin(), records.end(), ofFile), records.end());
  }
}

// What LvMAPI handed back about the replies of consumed exchange files: per
// file, the numbers of the replies it stored nothing from. A file without a
// hand-back (an older LvMAPI) had every reply stored; a hand-back that cannot
// be read or names a reply not at all leaves that reply to a person.
class HandBacks {
 public:
  explicit HandBacks(EventLog& log) : m_log(log) {}

  bool Stored(const OfferRecord& record) {
    auto told = m_files.find(record.exchangeFile);
    if (told == m_files.end()) told = m_files.emplace(record.exchangeFile, Read(record.exchangeFile)).first;
    if (!told->second || record.number == 0) return true;
    const auto reply = told->second->find(record.number);
    return reply != told->second->end() && reply->second;
  }

 private:
  std::optional<std::map<int, bool>> Read(const std::string& exchangeFile) {
    const std::string path = HandBackPath(exchangeFile);
    if (!platform::FileExists(path)) return std::nullopt;
    std::string text, why;
    std::map<int, bool> stored;
    if (!platform::ReadWholeFile(path, text, &why) || !ParseHandBack(text, stored)) {
      m_log.Error("cannot read LvMAPI's hand-back " + path + (why.empty() ? "" : ": " + why) +
                  "; its replies are left for reading");
    }
    return stored;
  }

  EventLog& m_log;
  std::map<std::string, std::optional<std::map<int, bool>>> m_files;
};

// How filing one message went.
enum class Filing { Moved, NotWaiting, Failed, FailedForNow };

// Files the message `key` into `folder`: the one place the intake moves
// mail. A failure of the connection goes up, since nothing else in the run
// can succeed (what was not filed is found again by the next run); any other
// is logged, counted as a failure, and told apart by whether it may pass by
// itself.
Filing FileMessage(IMailStore& store, EventLog& log, const std::string& key, Folder folder, FetchOutcome& outcome) {
  try {
    return store.Move(key, folder) ? Filing::Moved : Filing::NotWaiting;
  } catch (const TransportError& e) {
    if (e.connectionFailed()) throw;
    log.Error("cannot move " + key + " to " + InfoOf(folder).name + ": " + e.what());
    ++outcome.failures;
    return e.temporary() ? Filing::FailedForNow : Filing::Failed;
  }
}

// Files the messages of consumed records: into Processed when LvMAPI stored
// them, into Needs reading when it stored nothing from them. Returns the
// records still open: those not consumed, and those whose move failed, kept
// so they are tried again and not offered meanwhile.
std::vector<OfferRecord> FileConsumedReplies(IMailStore& store, const std::vector<OfferRecord>& records,
                                             EventLog& log, FetchOutcome& outcome) {
  HandBacks handBacks(log);
  // Where each message goes, told to the store first: it may file several
  // with one request.
  std::vector<std::pair<std::string, Folder>> moves;
  for (const OfferRecord& record : records) {
    if (record.status == OfferStatus::Consumed && !record.key.empty()) {
      moves.emplace_back(record.key, handBacks.Stored(record) ? Folder::Processed : Folder::NeedsReading);
    }
  }
  store.WillMove(moves);
  auto move = moves.begin();
  std::vector<OfferRecord> open;
  for (const OfferRecord& record : records) {
    if (record.status != OfferStatus::Consumed) {
      open.push_back(record);
      continue;
    }
    if (record.key.empty()) continue;  // an exchange file that offered nothing
    const Folder folder = (move++)->second;
    const bool stored = folder == Folder::Processed;
    switch (FileMessage(store, log, record.key, folder, outcome)) {
      case Filing::Moved:
        log.Info("acknowledged " + record.key + " (exchange file consumed: " + record.exchangeFile + ")" +
                 (stored ? "" : ", LvMAPI stored nothing from it") + ", moved to " + InfoOf(folder).name);
        ++(stored ? outcome.processed : outcome.needsReading);
        break;
      case Filing::NotWaiting:
        log.Info("acknowledged " + record.key + ", but it is no longer waiting; nothing to move");
        break;
      case Filing::FailedForNow:
        ++outcome.heldBack;
        [[fallthrough]];
      case Filing::Failed:
        open.push_back(record);  // tried again by the next run, and not offered meanwhile
        break;
    }
  }
  return open;
}

// Removes the hand-backs of the consumed files that have no message left to
// file. Kept while one has: the next run still needs it.
void RemoveSettledHandBacks(const std::vector<OfferRecord>& settled, const std::vector<OfferRecord>& open) {
  for (const OfferRecord& record : settled) {
    if (record.status != OfferStatus::Consumed) continue;
    const bool stillOpen = std::any_of(open.begin(), open.end(),
                                       [&](const OfferRecord& r) { return r.exchangeFile == record.exchangeFile; });
    if (!stillOpen) platform::RemoveFile(HandBackPath(record.exchangeFile));
  }
}

// Settles the exchange files of earlier runs. With `reoffer`, files that are
// still there or were never completed are removed and their messages become
// free to be offered again; without it they are left as they are. Returns
// the records still open.
std::vector<OfferRecord> SettleEarlierOffers(IMailStore& store, EventLog& log, const std::string& statePath,
                                             bool reoffer, FetchOutcome& outcome) {
  std::vector<std::string> problems;
  std::vector<OfferRecord> records = LoadOfferRecords(statePath, problems);
  for (const std::string& problem : problems) log.Error(problem);
  if (records.empty()) return records;
  // Consumed already when this run began: an earlier run was moving them
  // and may have got part of the way.
  for (const OfferRecord& record : records) {
    if (record.status == OfferStatus::Consumed && !record.key.empty()) store.NoteEarlierFiling(record.key);
  }

  const std::vector<std::string> unconsumed = FindUnconsumedFiles(records, reoffer);
  // The new view is saved before any file is touched: if this run dies
  // while removing a left-over file, the next one still knows its messages
  // were never consumed.
  SaveOfferRecords(statePath, records);
  RemoveUnconsumedFiles(unconsumed, records, log, outcome);
  std::vector<OfferRecord> open = FileConsumedReplies(store, records, log, outcome);
  SaveOfferRecords(statePath, open);
  RemoveSettledHandBacks(records, open);
  return open;
}

// Our mailings by their Message-IDs, read from the sent register when the
// first report or reply needs them.
class KnownMailings {
 public:
  KnownMailings(const std::string& path, EventLog& log) : m_path(path), m_log(log) {}

  const SentMailing* Find(const std::string& messageId) {
    if (!m_mailings) {
      m_mailings.emplace();
      std::vector<std::string> problems;
      if (!m_path.empty()) {
        for (SentMailing& mailing : LoadSentMailings(m_path, problems)) {
          const std::string id = mailing.messageId;
          m_mailings->insert_or_assign(id, std::move(mailing));
        }
      }
      for (const std::string& problem : problems) m_log.Warning(problem);
    }
    const auto found = m_mailings->find(messageId);
    return found == m_mailings->end() ? nullptr : &found->second;
  }
  bool Has(const std::string& messageId) { return Find(messageId) != nullptr; }

 private:
  std::string m_path;
  EventLog& m_log;
  std::optional<std::map<std::string, SentMailing>> m_mailings;
};

// Leaves a message for a person: into Needs reading, unread, with `line`
// on the run log and in the log. A message that cannot be moved stays
// where it is, and the next run decides again.
void LeaveForReading(IMailStore& store, EventLog& log, const FetchRequest& request, const std::string& key,
                     const std::string& line, FetchOutcome& outcome) {
  switch (FileMessage(store, log, key, Folder::NeedsReading, outcome)) {
    case Filing::Moved:
      log.Info(line);
      log.Info("moved " + key + " to " + InfoOf(Folder::NeedsReading).name);
      if (request.runLog) *request.runLog << line << "\n";
      ++outcome.needsReading;
      break;
    case Filing::NotWaiting:
      log.Info(key + " is no longer waiting; nothing to move");
      break;
    case Filing::FailedForNow:
      ++outcome.heldBack;
      break;
    case Filing::Failed:
      break;
  }
}

// "25 MB", "9 KB": whole units, rounded up.
std::string SizeText(std::int64_t bytes) {
  constexpr std::int64_t kKb = 1024, kMb = kKb * kKb;
  return bytes >= kMb ? std::to_string((bytes + kMb - 1) / kMb) + " MB" : std::to_string((bytes + kKb - 1) / kKb) + " KB";
}

// A message over the size limit is not read at all: the store told its size.
bool LeftUnreadForItsSize(IMailStore& store, EventLog& log, const FetchRequest& request, const StoredMessage& stored,
                          FetchOutcome& outcome) {
  if (request.sizeLimitBytes <= 0 || stored.size <= request.sizeLimitBytes) return false;
  LeaveForReading(store, log, request, stored.key,
                  "Not stored, left for reading: the message " + stored.key + " received " +
                      FormatLocalDateTime(stored.arrivalNs / 1000000000) + ": " + SizeText(stored.size) +
                      ", larger than the limit of " + SizeText(request.sizeLimitBytes),
                  outcome);
  return true;
}

// Files a delivery report about one of our mailings and tells what it says.
// False when the message is no such report; the caller goes on with it.
bool FileDeliveryReport(IMailStore& store, EventLog& log, const FetchRequest& request, const StoredMessage& stored,
                        const std::string& raw, const IncomingMessage& message, KnownMailings& mailings,
                        FetchOutcome& outcome) {
  const DeliveryReport report = ReadDeliveryReport(raw);
  if (report.kind == ReportKind::NotAReport) return false;
  const bool byId = !report.returnedMessageId.empty() && mailings.Has(report.returnedMessageId);
  if (!byId && !ContainsIgnoringCase(report.returnedSubject, request.subject) &&
      !ContainsIgnoringCase(message.subject, request.subject)) {
    return false;
  }
  const bool failed = report.kind == ReportKind::PermanentFailure;
  const Folder folder = failed ? Folder::Undeliverable : Folder::Skipped;
  switch (FileMessage(store, log, stored.key, folder, outcome)) {
    case Filing::Moved:
      break;
    case Filing::NotWaiting:
      log.Info("delivery report " + stored.key + " is no longer waiting; nothing to move");
      return true;
    case Filing::Failed:
    case Filing::FailedForNow:
      return true;  // found again, and told, by the next run
  }
  log.Info(std::string(failed ? "delivery report " : "delay report ") + stored.key + " from " + message.senderAddress +
           " about \"" + report.returnedSubject + "\"" +
           (report.returnedMessageId.empty() ? "" : " (Message-ID <" + report.returnedMessageId + ">)") +
           (byId ? ", one of our mailings" : "") + ", moved to " + InfoOf(folder).name);
  for (const FailedRecipient& recipient : report.recipients) {
    const std::string line = DescribeFailure(recipient);
    log.Info(line);
    if (request.runLog) *request.runLog << line << "\n";
  }
  ++(failed ? outcome.undeliverable : outcome.delayed);
  return true;
}

// Reads one waiting message as a reply. None when it cannot be read (logged
// and counted as a failure), is not about `request.subject`, is a delivery
// report of our mailings, which is filed, or is an automatic answer, which
// is moved to Skipped.
std::optional<Reply> ReadReply(IMailStore& store, EventLog& log, const FetchRequest& request,
                               const StoredMessage& stored, KnownMailings& mailings, FetchOutcome& outcome) {
  if (LeftUnreadForItsSize(store, log, request, stored, outcome)) return std::nullopt;
  std::string raw;
  try {
    raw = store.Read(stored.key);
  } catch (const TransportError& e) {
    if (e.connectionFailed()) throw;  // nothing is offered from a half-read mailbox
    log.Error("cannot read " + stored.key + ": " + e.what());
    ++outcome.failures;
    if (e.temporary()) ++outcome.heldBack;
    return std::nullopt;
  }
  IncomingMessage message = ReadIncomingMessage(raw, request.ownAddress);
  if (!message.parsed) {
    log.Error("cannot read " + stored.key + " as a mail message; left where it is");
    ++outcome.failures;
    return std::nullopt;
  }
  // A report's own subject rarely names the mailing it returns.
  if (!message.automaticReason.empty() &&
      FileDeliveryReport(store, log, request, stored, raw, message, mailings, outcome)) {
    return std::nullopt;
  }
  if (!ContainsIgnoringCase(message.subject, request.subject)) return std::nullopt;
  if (message.partsCut) {
    log.Warning("read only the start of " + stored.key + ": more parts than a mail program writes");
  }
  if (!message.automaticReason.empty()) {
    const Filing filing = FileMessage(store, log, stored.key, Folder::Skipped, outcome);
    if (filing == Filing::Moved || filing == Filing::NotWaiting) {
      log.Info("skipped " + stored.key + " from " + message.senderAddress + " (" + message.automaticReason +
               "), subject \"" + message.subject + "\", moved to Skipped");
      ++outcome.skipped;
    }
    return std::nullopt;
  }
  if (!message.hasDate) message.localDate = FormatLocalDateTime(stored.arrivalNs / 1000000000);
  const std::optional<std::string> why =
      request.checkSenders
          ? WhyNotBelieved(message, [&](const std::string& id) { return mailings.Find(id); }, request.authservId)
          : std::nullopt;
  if (why) {
    const std::string& originator = message.senderAddress.empty() ? message.fromText : message.senderAddress;
    LeaveForReading(store, log, request, stored.key, LeftForReadingLine(originator, message.localDate, *why), outcome);
    return std::nullopt;
  }
  Reply reply{stored.key, {std::move(message.senderAddress), std::move(message.localDate), std::move(message.body)}};
  if (reply.record.originator.empty()) log.Info("reply " + stored.key + " names no sender");
  return reply;
}

// Breaks any exchange tag the reply carries, so that it cannot end its
// record early.
void Neutralise(Reply& reply, EventLog& log, FetchOutcome& outcome) {
  const size_t broken = NeutraliseExchangeTags(reply.record.originator) + NeutraliseExchangeTags(reply.record.date) +
                        NeutraliseExchangeTags(reply.record.body);
  if (broken > 0) {
    log.Info("broke " + std::to_string(broken) + " exchange tag(s) inside " + reply.key + " from " +
             reply.record.originator);
    outcome.neutralised += static_cast<int>(broken);
  }
}

}  // namespace

FetchOutcome AcknowledgeConsumed(IMailStore& store, EventLog& log, const std::string& statePath) {
  FetchOutcome outcome;
  SettleEarlierOffers(store, log, statePath, false, outcome);
  return outcome;
}

FetchOutcome FetchReplies(IMailStore& store, EventLog& log, const FetchRequest& request, const FetchObserver& observer) {
  FetchOutcome outcome;
  auto reached = [&](FetchStep step) {
    if (observer) observer(step);
  };

  std::vector<OfferRecord> records = SettleEarlierOffers(store, log, request.statePath, true, outcome);
  reached(FetchStep::EarlierOffersSettled);
  std::set<std::string> unsettled;
  for (const OfferRecord& record : records) unsettled.insert(record.key);

  // Each reply goes into the exchange file as soon as it is read, under the
  // file's ".part" name, so that the file is written while the mailbox is
  // read and the run never holds all the replies' texts; the file takes its
  // own name only once its records are saved (below). The file is recorded
  // as pending before its first byte is written: a run killed while it
  // writes leaves that record, and the next run removes what it left (the
  // ".part" file with people's replies) and offers its messages again. A
  // file that offers nothing keeps that record (without a message key), so
  // that when LvMAPI dies before deleting it, the next run removes it like
  // any file left unconsumed. The mailbox is listed first: a mailbox that
  // cannot be reached (a refused login) leaves nothing behind.
  const std::vector<StoredMessage> waiting = store.ListWaiting(request.subject);
  if (platform::FileExists(request.exchangeFile)) log.Info("replacing existing file " + request.exchangeFile);
  records.push_back({OfferStatus::Pending, request.exchangeFile, "", 0});
  SaveOfferRecords(request.statePath, records);
  platform::FileReplacement exchange(request.exchangeFile);
  std::string why;
  if (!exchange.Open(&why)) throw std::runtime_error("cannot write the exchange file: " + why);
  std::vector<Reply> replies;  // their keys, senders and dates, for the records and the log
  KnownMailings mailings(request.sentRegisterPath, log);
  for (const StoredMessage& stored : waiting) {
    if (unsettled.count(stored.key)) continue;
    std::optional<Reply> reply = ReadReply(store, log, request, stored, mailings, outcome);
    if (!reply) continue;
    Neutralise(*reply, log, outcome);
    if (!exchange.Append(FormatIncomingRecord(static_cast<int>(replies.size()) + 1, reply->record), &why)) {
      throw std::runtime_error("cannot write the exchange file: " + why);
    }
    std::string().swap(reply->record.body);
    replies.push_back(std::move(*reply));
  }

  // Record first, then put the file in place: a crash in between leaves
  // pending records, and the next run offers those messages again instead
  // of taking the missing file for a consumed one.
  int number = 0;
  for (const Reply& reply : replies) records.push_back({OfferStatus::Pending, request.exchangeFile, reply.key, ++number});
  SaveOfferRecords(request.statePath, records);
  reached(FetchStep::OffersPending);

  if (!exchange.Commit(&why)) throw std::runtime_error("cannot write the exchange file: " + why);
  reached(FetchStep::ExchangeFileWritten);

  for (OfferRecord& record : records) {
    if (record.status == OfferStatus::Pending && record.exchangeFile == request.exchangeFile) {
      record.status = OfferStatus::Offered;
    }
  }
  SaveOfferRecords(request.statePath, records);
  reached(FetchStep::OffersRecorded);

  int n = 0;
  for (const Reply& reply : replies) {
    log.Info("fetched " + reply.key + " from " + reply.record.originator + " (" + reply.record.date + ") as reply " +
             std::to_string(++n) + " in " + request.exchangeFile);
  }
  outcome.offered = static_cast<int>(replies.size());
  return outcome;
}

}  // namespace emailaccess
