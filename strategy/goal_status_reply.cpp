#include "strategy/goal_status_reply.h"

#include <cstdint>
#include <memory>
#include <sstream>

#include "bizobjects/settings.h"
#include "bizobjects/stored_replies.h"
#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "data/row_walk.h"
#include "tasks/goal_task.h"
#include "util/identifiers.h"

namespace {

// The status from the first "<Status>" pair that holds more than blanks;
// where none does, from the first "<status>" pair that does on a line the
// person typed: the notification's instructions show the lower-case tags, and
// their example (25) is never taken.
std::string StatusValue(const std::string& body) {
  std::string status = TypedTagValue(body, "Status");
  return status.empty() ? ExtractFromTypedLines(body, "<status>", "</status>") : status;
}

}  // namespace

bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  std::ostringstream discardedTrace;
  const std::string replyId = NewGuidString();

  // The tags the notification wrote, case-sensitive, leading spaces removed:
  // the identifiers from the first occurrence of their tags, the status and
  // the comment from the first pair of their tags that holds more than blanks.
  std::string strategyId;
  GetTagValue(body, "StrategyId", strategyId);
  if (strategyId.empty()) {
    return Reported(WithoutOwner(body, {"<StrategyId>", "<GoalId>", "<Status>", "<Comment>"}), outcome);
  }
  std::string goalId;
  GetTagValue(body, "GoalId", goalId);
  std::string status = StatusValue(body);
  const std::string typedComment = TypedTagValue(body, "Comment");
  std::string comment = typedComment;
  DoubleSingleQuotes(status);
  DoubleSingleQuotes(comment);
  if (status.empty() && comment.empty()) return Reported(ReplyOutcome::kNothingTyped, outcome);

  connection.Open();
  // The reply row and its response are one unit: a reply row stored without
  // its response would make a second offer of the same reply look stored,
  // and the percentage would be lost.
  CDBTransaction unit(&connection);
  {
    CStrategyGoalStatusReplys replies;
    auto replyStore = LoggedTableStore(&connection, replies, discardedTrace);
    replyStore.load();
    if (HoldsStoredReply(replies, strategyId, originator, date)) return Reported(ReplyOutcome::kStoredBefore, outcome);
    // A status of a strategy or goal that has been deleted would be a row
    // of nothing; the message is left for a person instead.
    const bool known = goalId.empty() ? SomeRowNames(connection, "SELECT StrategyID FROM Strategy", strategyId)
                                      : SomeRowNames(connection, "SELECT GoalID FROM SMARTGoal", goalId);
    if (!known) return Reported(ReplyOutcome::kOwnerNotFound, outcome);
    unit.Begin();
    replies.add(std::make_unique<CStrategyGoalStatusReply>(replyId, WithQuotesDoubled(strategyId),
                                                           WithQuotesDoubled(originator), WithQuotesDoubled(date)));
    replyStore.save();
  }

  CStrategyGoalStatusResponses responses;
  auto responseStore = LoggedTableStore(&connection, responses, discardedTrace);
  responseStore.load();
  int32_t percent = 0;
  bool updateTask = false;
  if (!status.empty()) {
    percent = LeadingInteger(status);
    // The comment already has its quotes doubled, which is the stored form.
    responses.add(std::make_unique<CStrategyGoalStatusResponse>(NewGuidString(), replyId, WithQuotesDoubled(goalId),
                                                                std::to_string(percent), comment));
    bool updateTasks = false;
    updateTask = IsSettingSixOn(&updateTasks) && updateTasks;
  }
  const bool saved = responseStore.save();
  unit.Commit();
  // The task follows what is stored: a reply that was rolled back and is
  // offered again would otherwise have its text appended to the task twice.
  if (updateTask) UpdateOutlookGoalTask(goalId, percent, typedComment);
  return Reported(saved ? ReplyOutcome::kStored : ReplyOutcome::kNotStored, outcome);
}
