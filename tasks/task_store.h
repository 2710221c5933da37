// The iCalendar goal task store: a folder of iCalendar files with one task
// (VTODO) per ".ics" file, as calendar synchronisers and task applications
// keep them. Which store a goal status reply updates is goal_task.h's
// choice; Outlook's is outlook_task.h.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char kTasksFolderVariable[] = "LVMAPI_TASKS_DIR";
inline constexpr const char kTasksFolderName[] = "Tasks";

// The folder LVMAPI_TASKS_DIR names; empty when it is not set.
std::string NamedTaskFolder();

// The folder named by LVMAPI_TASKS_DIR when it is set and not empty, else
// "Tasks" beside the program.
std::string TaskFolderPath();

// The iCalendar store: updates the first task, in file-name (byte) order,
// whose DESCRIPTION holds `goalId` (case-sensitive): appends the status
// update and `comment`, as the person typed it, to the DESCRIPTION, sets PERCENT-COMPLETE and STATUS from
// `percent` and stamps LAST-MODIFIED, DTSTAMP (UTC) and SEQUENCE. Every other
// line stays byte for byte; the file is replaced in one step and keeps its
// mode, and its owner and group where the process may set them.
// True when a task was updated. False, with nothing changed, when `goalId` is
// empty, `percent` lies outside 0 to 100, no task matches, the folder or an
// ".ics" file met before the match cannot be read cleanly, or the updated task
// cannot be written so that it reads back as it should. Logs nothing, never
// throws.
bool UpdateCalendarGoalTask(const std::string& goalId, int32_t percent, const std::string& comment);
