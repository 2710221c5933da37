#include "emailaccess/intake.h"

#include "emailaccess/exchange_files.h"
#include "emailaccess/message_text.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/text_encoding.h"
#include "platform/durable_file.h"
#include "platform/files.h"

#include <algorithm>
#include <optional>
#include <set>

namespace emailaccess {
namespace {

struct Reply {
  std::string key;
  ReplyRecord record;
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
    const long count =
        std::count_if(records.begin(), records.end(), [&](const OfferRecord& r) { return ofFile(r) && !r.key.empty(); });
    log.Info(std::string(stillThere ? "exchange file not consumed, removed: " : "exchange file not completed: ") + file +
             "; its " + std::to_string(count) + " message(s) are offered again");
    outcome.reoffered += static_cast<int>(count);
    records.erase(std::remove_if(records.begin(), records.end(), ofFile), records.end());
  }
}

// Moves the messages of consumed records to Processed. Returns the records
// still open: those not consumed, and those whose move failed, kept so they
// are tried again and not offered meanwhile.
std::vector<OfferRecord> MoveConsumedToProcessed(IMailStore& store, const std::vector<OfferRecord>& records,
                                                 EventLog& log, FetchOutcome& outcome) {
  std::vector<OfferRecord> open;
  for (const OfferRecord& record : records) {
    if (record.status != OfferStatus::Consumed) {
      open.push_back(record);
      continue;
    }
    if (record.key.empty()) continue;  // an exchange file that offered nothing
    try {
      if (store.MoveToProcessed(record.key)) {
        log.Info("acknowledged " + record.key + " (exchange file consumed: " + record.exchangeFile +
                 "), moved to Processed");
        ++outcome.processed;
      } else {
        log.Info("acknowledged " + record.key + ", but it is no longer waiting; nothing to move");
      }
    } catch (const TransportError& e) {
      if (e.connectionFailed()) throw;  // the records say what is still to move
      log.Error("cannot move " + record.key + " to Processed: " + e.what());
      ++outcome.failures;
      if (e.temporary()) ++outcome.heldBack;
      open.push_back(record);
    }
  }
  return open;
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
  std::vector<OfferRecord> open = MoveConsumedToProcessed(store, records, log, outcome);
  SaveOfferRecords(statePath, open);
  return open;
}

// Reads one waiting message as a reply. None when it cannot be read (logged
// and counted as a failure), is not about `request.subject`, or is an
// automatic answer, which is moved to Skipped.
std::optional<Reply> ReadReply(IMailStore& store, EventLog& log, const FetchRequest& request,
                               const StoredMessage& stored, FetchOutcome& outcome) {
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
  if (!ContainsIgnoringCase(message.subject, request.subject)) return std::nullopt;
  if (message.partsCut) {
    log.Warning("read only the start of " + stored.key + ": more parts than a mail program writes");
  }
  if (!message.automaticReason.empty()) {
    try {
      store.MoveToSkipped(stored.key);
      log.Info("skipped " + stored.key + " from " + message.senderAddress + " (" + message.automaticReason +
               "), subject \"" + message.subject + "\", moved to Skipped");
      ++outcome.skipped;
    } catch (const TransportError& e) {
      if (e.connectionFailed()) throw;
      log.Error("cannot move " + stored.key + " to Skipped: " + e.what());
      ++outcome.failures;
    }
    return std::nullopt;
  }
  Reply reply{stored.key, {message.senderAddress, message.localDate, message.body}};
  if (!message.hasDate) reply.record.date = FormatLocalDate(stored.arrivalNs / 1000000000);
  if (reply.record.originator.empty()) log.Info("reply " + stored.key + " names no sender");
  return reply;
}

// The records of the exchange file, with any exchange tag a reply carries
// broken so that it cannot end its record early.
std::vector<ReplyRecord> ExchangeRecords(std::vector<Reply>& replies, EventLog& log, FetchOutcome& outcome) {
  std::vector<ReplyRecord> texts;
  for (Reply& reply : replies) {
    size_t broken = NeutraliseExchangeTags(reply.record.originator) + NeutraliseExchangeTags(reply.record.date) +
                    NeutraliseExchangeTags(reply.record.body);
    if (broken > 0) {
      log.Info("broke " + std::to_string(broken) + " exchange tag(s) inside " + reply.key + " from " +
               reply.record.originator);
      outcome.neutralised += static_cast<int>(broken);
    }
    texts.push_back(reply.record);
  }
  return texts;
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

  std::vector<Reply> replies;
  for (const StoredMessage& stored : store.ListWaiting(request.subject)) {
    if (unsettled.count(stored.key)) continue;
    std::optional<Reply> reply = ReadReply(store, log, request, stored, outcome);
    if (reply) replies.push_back(std::move(*reply));
  }

  // Record first, then write: a crash in between leaves a pending record,
  // and the next run offers those messages again instead of taking the
  // missing file for a consumed one. A file that offers nothing is recorded
  // too (a record without a message key), so that when LvMAPI dies before
  // deleting it, the next run removes it like any file left unconsumed.
  for (const Reply& reply : replies) records.push_back({OfferStatus::Pending, request.exchangeFile, reply.key});
  if (replies.empty()) records.push_back({OfferStatus::Pending, request.exchangeFile, ""});
  SaveOfferRecords(request.statePath, records);
  reached(FetchStep::OffersPending);

  const std::vector<ReplyRecord> texts = ExchangeRecords(replies, log, outcome);
  if (platform::FileExists(request.exchangeFile)) log.Info("replacing existing file " + request.exchangeFile);
  std::string why;
  if (!platform::ReplaceFileAtomically(request.exchangeFile, FormatIncomingExchange(texts), &why)) {
    throw std::runtime_error("cannot write the exchange file: " + why);
  }
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
