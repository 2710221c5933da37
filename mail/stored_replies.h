// What the reply processors share about storing a reply: what became of a
// reply, the form a value they were handed is given so that the stored row
// holds it as typed, and the test whether a reply has been stored before.
//
// Contract: header-only, no state, nothing throws. A mail-access program that
// is restarted after a failure offers the same messages again, so a reply is
// recognised by its owner (the survey or strategy identifier, compared with
// SameGuid), its originator and its date, all three exactly as the database
// gives them back. Rows are compared in the collection the caller has
// already loaded; nothing is read here.
#pragma once

#include <string>

#include "bizobjects/bizobjects.h"
#include "util/identifiers.h"
#include "util/text_files.h"

// What became of one reply, for the run log: a reply that reached its form
// but had nothing typed between the tags is told apart from one that was
// stored, or not stored for another reason (no survey or strategy
// identifier, stored before).
enum class ReplyOutcome { kStored, kNotStored, kNothingTyped };

// Gives `what` to a caller that asked for it (`outcome` not null); true when
// the reply was stored.
inline bool Reported(ReplyOutcome what, ReplyOutcome* outcome) {
  if (outcome) *outcome = what;
  return what == ReplyOutcome::kStored;
}

// The database decorators give one more quote to every run of single quotes of
// odd length and keep runs of even length; doubling every quote first makes
// every run even, so the stored row holds the text exactly as it was handed
// over (a run of two quotes would otherwise be stored as one).
inline std::string StoredAsTyped(std::string text) {
  DoubleSingleQuotes(text);
  return text;
}

// A text as a load gives it back after it was stored as typed: the result
// reader normalises line breaks.
inline std::string AsLoaded(std::string text) {
  NormalizeLineBreaks(text);
  return text;
}

// True when `replies` (SurveyReply or StrategyGoalStatusReply rows: ReplyID,
// owner identifier, ReplyEmail, ReplyDate) holds a reply of `ownerId` from
// `originator` dated `date`.
template <class Reply>
bool HoldsStoredReply(const CBizObjectCollection<Reply*>& replies, const std::string& ownerId,
                      const std::string& originator, const std::string& date) {
  const std::string loadedOriginator = AsLoaded(originator);
  const std::string loadedDate = AsLoaded(date);
  // Compared in place: a table of a hundred thousand replies is read for
  // every incoming one.
  for (const Reply* reply : replies) {
    if (reply->Value(Reply::Columns::ReplyEmail) == loadedOriginator &&
        reply->Value(Reply::Columns::ReplyDate) == loadedDate && SameGuid(std::string(reply->Value(1)), ownerId)) {
      return true;
    }
  }
  return false;
}
