// What the reply processors share about storing a reply: what became of a
// reply, and the test whether a reply has been stored before. Header-only, no
// state; nothing here throws.
#pragma once

#include <initializer_list>
#include <string>

#include "bizobjects/bizobjects.h"
#include "util/identifiers.h"
#include "util/text_files.h"

// What became of one reply. A reply stored now or before counts as stored;
// every other outcome says why nothing was stored, for the run log and so
// that the message is left for a person to read.
enum class ReplyOutcome {
  kStored,
  kStoredBefore,   // the same reply (owner, sender, date) is in the database
  kNoTags,         // none of the form's tags: a letter, not an answer
  kNoOwner,        // tags, but no survey or strategy identifier in them
  kOwnerNotFound,  // the survey, strategy or goal is not (or no longer) in the database
  kNothingTyped,   // the form came back with nothing typed between its tags
  kNotStored,      // the database did not take it
};

// True for the outcomes that leave the reply in the database.
inline bool WasStored(ReplyOutcome what) { return what == ReplyOutcome::kStored || what == ReplyOutcome::kStoredBefore; }

// Why nothing was stored, in the office's words; empty for a stored reply.
inline const char* ReasonNotStored(ReplyOutcome what) {
  switch (what) {
    case ReplyOutcome::kStored:
    case ReplyOutcome::kStoredBefore: return "";
    case ReplyOutcome::kNoTags: return "no tags";
    case ReplyOutcome::kNoOwner: return "no survey or strategy given";
    case ReplyOutcome::kOwnerNotFound: return "survey or goal not found";
    case ReplyOutcome::kNothingTyped: return "nothing typed between the tags";
    case ReplyOutcome::kNotStored: break;
  }
  return "the database did not take it";
}

// Gives `what` to a caller that asked for it (`outcome` not null); true when
// the reply was stored now.
inline bool Reported(ReplyOutcome what, ReplyOutcome* outcome) {
  if (outcome) *outcome = what;
  return what == ReplyOutcome::kStored;
}

// kNoTags when `body` holds none of `tags` (opening tags, exactly as the
// form writes them), else kNoOwner: for a reply whose owner tag is empty.
inline ReplyOutcome WithoutOwner(const std::string& body, std::initializer_list<const char*> tags) {
  for (const char* tag : tags) {
    if (body.find(tag) != std::string::npos) return ReplyOutcome::kNoOwner;
  }
  return ReplyOutcome::kNoTags;
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
