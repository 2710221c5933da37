// Operation 4: the replies waiting in the mailbox, written into an incoming
// exchange file for LvMAPI, with an acknowledgement cycle that loses nothing
// and offers nothing twice.
//
// A message is moved to the processed folder only after the exchange file
// that carried it has been consumed (LvMAPI deletes the file once it has
// handed over every reply in it), and only when LvMAPI stored it: the
// hand-back LvMAPI leaves beside the file (exchange/hand_back.h) names the
// replies it stored nothing from, which go to the needs-reading folder. So every run first settles the files of
// earlier runs: a recorded file that is gone was consumed, and its messages
// are moved; a recorded file that is still there was not (LvMAPI failed or
// was killed), so it is deleted and its messages are offered again; a file
// that was being written when this program died may or may not have been
// read, so its messages are offered again too (LvMAPI stores a reply once).
// Messages are never deleted.
//
// A reply whose sender cannot be believed (reply_trust.h), and a message
// larger than the size limit (which is not even read), are never offered:
// each goes to the needs-reading folder, unread, and the run says why on
// `runLog` and in the log ("Not stored, left for reading: ...").
//
// Delivery reports about our mailings (delivery_report.h) are filed when
// they are found, like automatic replies, and never offered: one that says a
// recipient will never get the mail goes to the undeliverable folder, one
// that says it is delayed to the skipped folder, each recipient told in the
// log and on `runLog` ("Not delivered to ...", "Delayed for ..."). A report
// is ours when the message it returns has a Message-ID this program gave
// (the sent register), or a subject that contains the fetch subject (many
// reports return only some headers, and the office may send from another
// computer). Reports about other mail are left where they are.
//
// The caller holds the intake lock. Failures of the mailbox or of the state
// file throw (TransportError, std::runtime_error); a single message that
// cannot be read or moved is logged, counted in `failures`, and left where
// it is. A lost connection ends the run with its TransportError before
// anything new is offered; the state file still says what is left to do, so
// the next run completes it.
#pragma once

#include "emailaccess/event_log.h"
#include "emailaccess/transport.h"

#include <functional>
#include <iosfwd>
#include <string>

namespace emailaccess {

struct FetchRequest {
  std::string exchangeFile;  // to be created; replaced if it exists
  std::string subject;       // contained in the subject of a reply, case ignored
  std::string ownAddress;    // our sender address: mail from it is not a reply
  std::string statePath;     // the state file
  std::string sentRegisterPath;  // the mailings this program sent (sent_register.h); empty: none known
  std::ostream* runLog = nullptr;  // lines for the office's run log, one each; null: none
  std::string authservId;          // whose Authentication-Results confirm a sender (reply_trust.h); empty: none
  std::int64_t sizeLimitBytes = 0;  // a larger message is left for reading unread; 0: no limit
  // False where the mailbox gives neither the threading nor the
  // authentication fields (Outlook's object model): senders are not checked.
  bool checkSenders = true;
};

struct FetchOutcome {
  int offered = 0;      // replies written into the exchange file
  int skipped = 0;      // automatic messages moved to the skipped folder
  int processed = 0;    // messages of consumed files moved to the processed folder
  int needsReading = 0;  // messages of consumed files LvMAPI stored nothing from, moved to Needs reading
  int reoffered = 0;    // messages of unconsumed files offered again
  int neutralised = 0;  // exchange tags broken inside values
  int failures = 0;     // messages that could not be read or moved
  int undeliverable = 0;  // delivery reports of our mailings moved to the undeliverable folder
  int delayed = 0;        // reports of our mailings delayed, moved to the skipped folder
  int heldBack = 0;     // of those, messages another program held (a scanner): a later run takes them
};

// Points where the run has made a lasting change; tests stop the run there to
// show what a crash at that point leaves behind.
enum class FetchStep { EarlierOffersSettled, OffersPending, ExchangeFileWritten, OffersRecorded };
using FetchObserver = std::function<void(FetchStep)>;

FetchOutcome FetchReplies(IMailStore& store, EventLog& log, const FetchRequest& request,
                          const FetchObserver& observer = {});

// Only the first part of a fetch: moves the messages of exchange files that
// have been consumed to the processed folder. Files still there are left
// alone (LvMAPI may be reading one right now), and nothing is offered.
FetchOutcome AcknowledgeConsumed(IMailStore& store, EventLog& log, const std::string& statePath);

}  // namespace emailaccess
