// What the reply processors share about storing a reply: what became of a
// reply, and the test whether a reply has been stored before. Header-only, no
// state; nothing here throws.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bizobjects/bizobjects.h"
#include "util/identifiers.h"
#include "util/text_files.h"

// What became of one reply. A reply stored now or before counts as stored;
// every other outcome says why nothing was stored, for the run log and so
// that the message is left for a person to read.
enum class ReplyOutcome {
  kStored,
  kStoredBefore,      // the same reply (owner, sender, date, what it says) is in the database
  kNoTags,            // none of the form's tags: a letter, not an answer
  kNoOwner,           // tags, but no survey or strategy identifier in them
  kOwnerNotFound,     // the survey, strategy or goal is not (or no longer) in the database
  kNothingTyped,      // the form came back with nothing typed between its tags
  kNotOnList,         // the sender is not on the survey's list: its persons and other addresses
  kNotResponsible,    // the sender is not the person responsible for the goal
  kStatusNotANumber,  // a status without a number: no percentage to store
  kNoSurveyQuestion,  // answers typed, but none to a question of the survey
  kNotStored,         // the database did not take it
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
    case ReplyOutcome::kNotOnList: return "not on the survey's list";
    case ReplyOutcome::kNotResponsible: return "not the goal's responsible person";
    case ReplyOutcome::kStatusNotANumber: return "the status is not a number";
    case ReplyOutcome::kNoSurveyQuestion: return "no answer to a question of this survey";
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

// What one response of a reply says: its texts after its ReplyID, in column
// order (a survey answer's question and answer; a goal status's goal,
// percentage and comment), as typed.
using ResponseTexts = std::vector<std::string>;

// True when `replies` (SurveyReply or StrategyGoalStatusReply rows: ReplyID,
// owner identifier, ReplyEmail, ReplyDate) holds a reply of `ownerId` from
// `originator` dated `date` whose responses in `responses` (ResponseID,
// ReplyID, then the texts) say what `said` says, in any order. A mail-access
// program restarted after a failure offers the same messages again, and such
// a copy is recognised; a second message of the same person and date that
// says something else is not the same reply. The owner is compared with
// SameGuid, everything else exactly as the database gives it back. Only the
// caller's loaded rows are read.
template <class Reply, class Response>
bool HoldsStoredReply(const CBizObjectCollection<Reply*>& replies, const CBizObjectCollection<Response*>& responses,
                      const std::string& ownerId, const std::string& originator, const std::string& date,
                      std::vector<ResponseTexts> said) {
  const std::string loadedOriginator = AsLoaded(originator);
  const std::string loadedDate = AsLoaded(date);
  // Compared in place, through the collection (which need not build its
  // loaded rows for that): a table of a hundred thousand replies is read
  // for every incoming one, and their responses only when one agrees.
  std::map<std::string_view, std::vector<ResponseTexts>> candidates;
  for (std::size_t i = 0, count = replies.size(); i < count; ++i) {
    if (replies.Value(i, Reply::Columns::ReplyEmail) == loadedOriginator &&
        replies.Value(i, Reply::Columns::ReplyDate) == loadedDate &&
        SameGuid(std::string(replies.Value(i, 1)), ownerId)) {
      candidates[replies.Value(i, Reply::Columns::ReplyID)];
    }
  }
  if (candidates.empty()) return false;
  for (std::size_t i = 0, count = responses.size(); i < count; ++i) {
    const auto candidate = candidates.find(responses.Value(i, 1));
    if (candidate == candidates.end()) continue;
    ResponseTexts& texts = candidate->second.emplace_back();
    for (std::size_t column = 2; column < Response::kColumnCount; ++column) {
      texts.emplace_back(responses.Value(i, column));
    }
  }
  for (ResponseTexts& texts : said) {
    for (std::string& text : texts) text = AsLoaded(std::move(text));
  }
  std::sort(said.begin(), said.end());
  for (auto& [replyId, stored] : candidates) {
    std::sort(stored.begin(), stored.end());
    if (stored == said) return true;
  }
  return false;
}
