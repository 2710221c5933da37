// The goal's task, wherever the office keeps it: the choice between the
// stores that goal status replies update. A folder of iCalendar files
// (task_store.h) when one is chosen; else the mailbox's own task list, which
// the mail-access program updates where the mail provider keeps one
// (Microsoft To Do through Microsoft Graph); else Outlook's Tasks folder
// (outlook_task.h) where the system can automate Outlook, or else the
// iCalendar folder.
#pragma once

#include <cstdint>
#include <string>

// Updates the goal's task in the store chosen as the header says. True when
// a task was updated; never throws, logs nothing (the mail-access program
// writes what it did into its own log).
bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment);

// Whether the iCalendar folder is chosen over every other store.
bool CalendarTaskStoreChosen();

// `comment` as it goes on the mail-access program's command line: at most
// exchange::kMaxTaskCommentBytes, a longer one cut (between characters)
// with a note of what was left out, and without NUL bytes, which would end
// it unseen.
std::string CommentForCommandLine(const std::string& comment);
