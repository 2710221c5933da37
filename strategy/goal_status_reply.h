// Goal status replies: a person's answer to a goal notification becomes one
// StrategyGoalStatusReply row and, when it carries a percentage, one
// StrategyGoalStatusResponse row; where setting 6 is on, the goal's task follows.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

// Stores the reply `body` from `originator` dated `date`, every value exactly
// as typed. The status is taken as a whole percentage (atoi; stored as it
// comes, also outside 0 to 100); the goal (or, without a goal, the strategy)
// must still be in the database, and whether the goal belongs to the strategy
// is not checked. The reply row and its response are stored in one transaction,
// whole or not at all; a comment without a status stores the reply row alone.
// The task update (UpdateOutlookGoalTask, given the comment as typed) follows
// the commit and cannot fail this call.
// False when nothing was stored: no strategy identifier (kNoTags, kNoOwner),
// neither status nor comment (kNothingTyped), no such goal or strategy
// (kOwnerNotFound), or a reply of this strategy from this originator with
// this date is stored already (kStoredBefore); otherwise whether the response collection
// was saved. `outcome`, when not null, receives what became of the reply.
// A failing statement throws (after the database error log entry) and what
// this reply wrote is rolled back, so offering it again stores it whole.
bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body,
                            ReplyOutcome* outcome = nullptr);
