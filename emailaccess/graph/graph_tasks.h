// The goal's task in the signed-in mailbox's Microsoft To Do (the tasks of
// Outlook on the web and the new Outlook) through Microsoft Graph, for
// transport = graph: what `LVEmailAccess --update-goal-task` does.
//
// The task is the first, lists in the order Graph gives them and tasks in
// their list's order, every page followed, whose body holds the goal's
// identifier (case-sensitive, as LvMAPI's other task stores match it). It
// gets what an Outlook task gets: exchange::GoalStatusUpdateText appended to
// its body. To Do keeps no percentage, so the percentage stands in that text
// and sets the task's status instead. One PATCH changes body and status
// together; sent again after a lost answer it sets the same.
#pragma once

#include "emailaccess/event_log.h"
#include "emailaccess/graph/graph_client.h"

#include <optional>
#include <string>
#include <vector>

namespace emailaccess {

struct GoalStatus {
  std::string goalId;
  int percent = 0;  // 0 to 100
  std::string comment;
};

// The command's operands GOAL-ID PERCENT COMMENT; nullopt with `why` when
// they are not three, the identifier is empty (it would match every task)
// or the percentage is not a whole number from 0 to 100.
std::optional<GoalStatus> ReadGoalStatus(const std::vector<std::string>& operands, std::string& why);

// To Do's status for a percentage: notStarted, inProgress or completed.
std::string TodoStatus(int percent);

// The body `content` (HTML or plain text) with `text` (plain, CR LF lines)
// added at its end; in HTML escaped, its lines broken with <br>, and put
// before the closing </body> tag where there is one.
std::string WithAddedText(const std::string& content, bool html, const std::string& text);

// Updates the goal's task as the header says and logs which; false, with
// nothing changed and logged, when no task holds the goal. Graph's refusals
// throw as GraphClient says (a missing Tasks.ReadWrite is a LoginError).
bool UpdateTodoGoalTask(GraphClient& client, const GoalStatus& status, EventLog& log);

}  // namespace emailaccess
