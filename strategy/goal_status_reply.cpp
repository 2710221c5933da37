#include "strategy/goal_status_reply.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>

#include "bizobjects/database_decorators.h"
#include "bizobjects/log_decorators.h"
#include "bizobjects/settings.h"
#include "bizobjects/stored_replies.h"
#include "data/db_connection.h"
#include "tasks/task_store.h"
#include "util/identifiers.h"

namespace {

std::string IdentifierValue(const std::string& body, const char* name) {
  std::string value;
  ExtractBetween(body, std::string("<") + name + ">", std::string("</") + name + ">", value);
  return value;
}

std::string StatusValue(const std::string& body) {
  std::string status = ExtractTypedValue(body, "<Status>", "</Status>");
  return status.empty() ? ExtractFromTypedLines(body, "<status>", "</status>") : status;
}

// atoi's reading (leading blanks, a sign, the digits up to the first other
// character, 0 without digits), with a number too large for 32 bits held at
// the nearest limit instead of left undefined.
int32_t PercentOf(const std::string& status) {
  const long value = std::strtol(status.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

bool ProcessGoalStatusReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  std::ostringstream discardedTrace;
  const std::string replyId = NewGuidString();

  const std::string strategyId = IdentifierValue(body, "StrategyId");
  if (strategyId.empty()) return Reported(ReplyOutcome::kNotStored, outcome);
  const std::string goalId = IdentifierValue(body, "GoalId");
  std::string status = StatusValue(body);
  const std::string typedComment = ExtractTypedValue(body, "<Comment>", "</Comment>");
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
    CStrategyGoalStatusReplyDatabaseDecorator replyStore(
        std::make_unique<CStrategyGoalStatusReplyLogDecorator>(nullptr, &discardedTrace, &replies), &connection,
        &replies);
    replyStore.load();
    if (HoldsStoredReply(replies, strategyId, originator, date)) return Reported(ReplyOutcome::kNotStored, outcome);
    unit.Begin();
    replies.add(std::make_unique<CStrategyGoalStatusReply>(replyId, StoredAsTyped(strategyId),
                                                           StoredAsTyped(originator), StoredAsTyped(date)));
    replyStore.save();
  }

  CStrategyGoalStatusResponses responses;
  CStrategyGoalStatusResponseDatabaseDecorator responseStore(
      std::make_unique<CStrategyGoalStatusResponseLogDecorator>(nullptr, &discardedTrace, &responses), &connection,
      &responses);
  responseStore.load();
  int32_t percent = 0;
  bool updateTask = false;
  if (!status.empty()) {
    percent = PercentOf(status);
    // The comment already has its quotes doubled, which is the stored form.
    responses.add(std::make_unique<CStrategyGoalStatusResponse>(NewGuidString(), replyId, StoredAsTyped(goalId),
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
