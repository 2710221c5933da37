// The goal's task, wherever the office keeps it: the choice between the two
// stores that goal status replies update, Outlook's Tasks folder
// (outlook_task.h), where the system can automate Outlook and the office
// keeps its tasks there, and a folder of iCalendar files (task_store.h).
#pragma once

#include <cstdint>
#include <string>

// The goal's task is updated in the iCalendar folder when one is chosen
// (LVMAPI_TASKS_DIR set and not empty, or a "Tasks" folder beside the
// program) or the system cannot automate Outlook; otherwise in Outlook
// (UpdateOutlookTask). True when a task was updated; never throws, logs
// nothing.
bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment);

// Whether the iCalendar folder is chosen over Outlook.
bool CalendarTaskStoreChosen();
