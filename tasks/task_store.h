// The goal task store: the tasks that goal status replies update. Two stores
// stand behind the one operation: Outlook's Tasks folder, where the system
// can automate Outlook and the office keeps its tasks there, and a folder of
// iCalendar files with one task (VTODO) per ".ics" file, as calendar
// synchronisers and task applications keep them.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char kTasksFolderVariable[] = "LVMAPI_TASKS_DIR";
inline constexpr const char kTasksFolderName[] = "Tasks";

// The folder named by LVMAPI_TASKS_DIR when it is set and not empty, else
// "Tasks" beside the program.
std::string TaskFolderPath();

// The goal's task is updated in the iCalendar folder when one is chosen
// (LVMAPI_TASKS_DIR set and not empty, or a "Tasks" folder beside the
// program) or the system cannot automate Outlook; otherwise in Outlook
// (UpdateOutlookTask). True when a task was updated; never throws, logs
// nothing.
bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment);

// Whether the iCalendar folder is chosen over Outlook.
bool CalendarTaskStoreChosen();

// What a status update appends to its task's body, with CR LF line breaks:
// the percentage and the day it was processed, then `comment` as given.
std::string GoalStatusUpdateText(int32_t percent, const std::string& comment);

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
