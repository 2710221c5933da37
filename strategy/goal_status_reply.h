// Goal status replies: a person's answer to a goal notification becomes one
// StrategyGoalStatusReply row and, when it carries a percentage, one
// StrategyGoalStatusResponse row for the goal; where setting 6 is on, the
// goal's task is updated too.
//
// Contract: ProcessGoalStatusReply reads the four tags the notification wrote
// ("<StrategyId>", "<GoalId>", "<Status>", "<Comment>", case-sensitive,
// leading spaces removed): the identifiers from the first occurrence of their
// tags, the status and the comment from the first pair of their tags that
// holds more than blanks (ExtractTypedValue). Where no "<Status>" pair holds
// a value, the first "<status>" pair that does on a line the person typed
// gives it (ExtractFromTypedLines): the notification's instructions show the
// lower-case tags, and their example (25) is never taken. The percentage is the status read
// with atoi (stored as it comes, also outside 0 to 100); identifiers are not
// checked against the database. Every value is stored exactly as typed.
//
// Result (also given in `outcome` when not null; kNothingTyped for a reply
// with a strategy identifier and neither status nor comment): false when
// nothing was stored (no strategy identifier, neither
// status nor comment, or a reply of this strategy from this originator with
// this date already stored); otherwise the result of saving the response
// collection. A reply with a comment but no status stores the reply row only.
// The reply row and the response are stored in one transaction, whole or not
// at all. The task update (UpdateOutlookGoalTask, given the comment as typed)
// follows once they are stored and cannot fail this operation. A failing
// statement throws out of the gateway (after the database error log entry)
// and leaves at once; the reply row written before it is rolled back, so a
// second offer of the same reply stores it whole.
#pragma once

#include <string>

#include "bizobjects/stored_replies.h"

bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body,
                            ReplyOutcome* outcome = nullptr);
