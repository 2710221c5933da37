// Goal status replies: a person's answer to a goal notification becomes one
// StrategyGoalStatusReply row and, when it carries a percentage, one
// StrategyGoalStatusResponse row; where setting 6 is on, the goal's task follows.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

// Stores the reply `body` from `originator` dated `date`, every value exactly
// as typed. The status is taken as a whole percentage (its leading number;
// stored as it comes, also outside 0 to 100). The goal must be a goal of the
// strategy, and the originator the address of the goal's responsible person
// (the one its notification goes to). The reply row and its response are
// stored in one transaction, whole or not at all; a comment without a status
// stores the reply row alone. The task update (UpdateOutlookGoalTask, given
// the comment as typed) follows the commit and cannot fail this call.
// False when nothing was stored: no strategy identifier (kNoTags, kNoOwner),
// neither status nor comment (kNothingTyped), a status without a number
// (kStatusNotANumber), no such goal of the strategy (kOwnerNotFound), another
// sender (kNotResponsible), or this reply is stored already: the same
// strategy, originator and date with the same goal, percentage and comment
// (kStoredBefore); otherwise whether the response collection was saved.
// `outcome`, when not null, receives what became of the reply.
// A failing statement throws (after the database error log entry) and what
// this reply wrote is rolled back, so offering it again stores it whole.
bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body,
                            ReplyOutcome* outcome = nullptr);
