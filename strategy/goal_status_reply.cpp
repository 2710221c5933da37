#include "strategy/goal_status_reply.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "bizobjects/settings.h"
#include "bizobjects/stored_replies.h"
#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "data/row_walk.h"
#include "strategy/strategy_queries.h"
#include "surveys/survey_queries.h"
#include "tasks/goal_task.h"
#include "util/identifiers.h"
#include "util/tag_index.h"

namespace {

// The status from the first "<Status>" pair that holds more than blanks;
// where none does, from the first "<status>" pair that does on a line the
// person typed: the notification's instructions show the lower-case tags, and
// their example (25) is never taken.
std::string StatusValue(const TagIndex& tags) {
  std::string status = tags.TypedValue("Status");
  return status.empty() ? tags.ValueOnTypedLine("status") : status;
}

// The responsible person of goal `goalId` of strategy `strategyId` (both
// compared with SameGuid); none when the strategy has no such goal, or there
// is no such strategy.
std::optional<std::string> ResponsiblePersonOfGoal(CDBConnection& connection, const std::string& strategyId,
                                                   const std::string& goalId) {
  const std::optional<std::string> storedStrategyId = RowNamed(connection, "SELECT StrategyID FROM Strategy", strategyId);
  if (!storedStrategyId || goalId.empty()) return std::nullopt;
  return LVSAL_GetGoalPerson(connection, *storedStrategyId, goalId);
}

// True when `originator` is the address the goal's notification goes to: its
// responsible person's, found as the notification finds it (the first).
bool IsResponsiblePerson(CDBConnection& connection, const std::string& personId, const std::string& originator) {
  if (personId.empty()) return false;
  const std::vector<std::string> addresses = LVSAL_GetPersonEmails(connection, personId);
  return !addresses.empty() && SameMailAddress(addresses.front(), originator);
}

}  // namespace

bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  std::ostringstream discardedTrace;
  const std::string replyId = NewGuidString();
  const TagIndex tags(body);

  // The tags the notification wrote, case-sensitive, leading spaces removed:
  // the identifiers from the first occurrence of their tags, the status and
  // the comment from the first pair of their tags that holds more than blanks.
  std::string strategyId;
  tags.Value("StrategyId", strategyId);
  if (strategyId.empty()) {
    return Reported(WithoutOwner(body, {"<StrategyId>", "<GoalId>", "<Status>", "<Comment>"}), outcome);
  }
  std::string goalId;
  tags.Value("GoalId", goalId);
  const std::string typedStatus = StatusValue(tags);
  const std::string typedComment = tags.TypedValue("Comment");
  if (typedStatus.empty() && typedComment.empty()) return Reported(ReplyOutcome::kNothingTyped, outcome);
  // A word where the percentage goes ("done") is no percentage: read as 0 it
  // would reset the goal and its task.
  if (!typedStatus.empty() && !HasLeadingInteger(typedStatus)) {
    return Reported(ReplyOutcome::kStatusNotANumber, outcome);
  }
  const int32_t percent = LeadingInteger(typedStatus);

  connection.Open();
  // Both tables are loaded whole, the replies first, to recognise a reply
  // stored before. The replies' collection goes first (it prints its trace
  // then), the responses' after it.
  CStrategyGoalStatusResponses responses;
  CStrategyGoalStatusReplys replies;
  auto replyStore = LoggedTableStore(&connection, replies, discardedTrace);
  replyStore.load();
  auto responseStore = LoggedTableStore(&connection, responses, discardedTrace);
  responseStore.load();
  // A comment without a status stores the reply row alone.
  std::vector<ResponseTexts> said;
  if (!typedStatus.empty()) said.push_back({goalId, std::to_string(percent), typedComment});
  if (HoldsStoredReply(replies, responses, strategyId, originator, date, std::move(said))) {
    return Reported(ReplyOutcome::kStoredBefore, outcome);
  }
  // A status of a goal that has been deleted, or that is no goal of the
  // strategy, would be a row of nothing; the message is left for a person.
  const std::optional<std::string> personId = ResponsiblePersonOfGoal(connection, strategyId, goalId);
  if (!personId) return Reported(ReplyOutcome::kOwnerNotFound, outcome);
  // Only the person the notification went to reports on the goal.
  if (!IsResponsiblePerson(connection, *personId, originator)) {
    return Reported(ReplyOutcome::kNotResponsible, outcome);
  }

  // The reply row and its response are one unit: a reply row stored without
  // its response would make a second offer of the same reply look stored,
  // and the percentage would be lost.
  CDBTransaction unit(&connection);
  unit.Begin();
  replies.add(std::make_unique<CStrategyGoalStatusReply>(replyId, WithQuotesDoubled(strategyId),
                                                         WithQuotesDoubled(originator), WithQuotesDoubled(date)));
  replyStore.save();
  bool updateTask = false;
  if (!typedStatus.empty()) {
    responses.add(std::make_unique<CStrategyGoalStatusResponse>(NewGuidString(), replyId, WithQuotesDoubled(goalId),
                                                                std::to_string(percent),
                                                                WithQuotesDoubled(typedComment)));
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
