// The goal's task in Outlook: the first task of the user's default Tasks
// folder whose body holds the goal identifier, reached through Outlook's
// automation interface by the members' fixed dispatch identifiers.
#pragma once

#include <cstdint>
#include <string>

// Appends exchange::GoalStatusUpdateText(percent, comment) to the body of the first
// task, in the folder's order, whose body holds `goalId` (case-sensitive),
// sets the task's percentage complete to `percent` and saves it; at most one
// task changes. True when a task was saved. False, quietly, when `goalId` is
// empty (it would match every task), `percent` lies outside 0 to 100 (no
// task's percentage can, and the body would be put before the percentage
// was refused), Outlook cannot be started or
// any call to it fails (a failure after the body was put may leave it changed
// but unsaved in a running Outlook), or no task matches. Never throws.
bool UpdateOutlookTask(const std::string& goalId, int32_t percent, const std::string& comment);
