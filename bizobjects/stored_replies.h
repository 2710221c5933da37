// What the reply processors share about storing a reply: what became of a
// reply, and the test whether a reply has been stored before. Header-only, no
// state; nothing here throws.
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

// The reply processors hand every value of a new row over
// WithQuotesDoubled: the database decorators give one more quote to every run
// of single quotes of odd length and keep runs of even length, so doubling
// every quote first makes every run even and the stored row holds the text
// exactly as typed (a run of two quotes would otherwise be stored as one).

// A text as a load gives it back after it was stored as typed: the result
// reader normalises line breaks.
inline std::string AsLoaded(std::string text) {
  NormalizeLineBreaks(text);
  return text;
}

// True when `replies` (SurveyReply or StrategyGoalStatusReply rows: ReplyID,
// owner identifier, ReplyEmail, ReplyDate) holds a reply of `ownerId` from
// `originator` dated `date`. A mail-access program restarted after a failure
// offers the same messages again, so a reply is recognised by these three:
// the owner compared with SameGuid, originator and date exactly as the
// database gives them back. Only the caller's loaded rows are read.
template <class Reply>
bool HoldsStoredReply(const CBizObjectCollection<Reply*>& replies, const std::string& ownerId,
                      const std::string& originator, const std::string& date) {
  const std::string loadedOriginator = AsLoaded(originator);
  const std::string loadedDate = AsLoaded(date);
  // Compared in place, through the collection (which need not build its
  // loaded rows for that): a table of a hundred thousand replies is read
  // for every incoming one.
  for (std::size_t i = 0, count = replies.size(); i < count; ++i) {
    if (replies.Value(i, Reply::Columns::ReplyEmail) == loadedOriginator &&
        replies.Value(i, Reply::Columns::ReplyDate) == loadedDate &&
        SameGuid(std::string(replies.Value(i, 1)), ownerId)) {
      return true;
    }
  }
  return false;
}
