// The goal task store: the tasks that goal status replies update.
//
// The store is a folder of iCalendar files, one task (VTODO) per ".ics" file,
// as calendar synchronisers and task applications keep them: the folder named
// by the environment variable LVMAPI_TASKS_DIR when it is set and not empty,
// else "Tasks" beside the program. A task's body is its DESCRIPTION.
//
// Contract of UpdateOutlookGoalTask: the ".ics" files are taken in file-name
// order (byte order) and the first task whose DESCRIPTION contains `goalId`
// (exact, case-sensitive substring) is updated: the status update text is
// appended to its DESCRIPTION, PERCENT-COMPLETE becomes `percent`, STATUS
// follows the percentage (COMPLETED with a COMPLETED time at 100, IN-PROCESS
// from 1 to 99, NEEDS-ACTION at 0, where an earlier COMPLETED time is
// removed), LAST-MODIFIED and DTSTAMP become now (UTC) and SEQUENCE is raised
// by one. Only those properties' lines are replaced (where they stood) or
// added (at the task's end); every other line stays byte for byte as the task
// application wrote it: order, folding, parameters, multi-valued properties,
// unknown properties and line ends. The file is replaced in one step, so a
// crash leaves either the old task or the new one, and keeps its mode, and
// its owner and group where the process may set them.
//
// At most one task changes per call. True when a task was updated. False,
// with nothing changed, when the goal identifier is empty (it would match
// every task), the percentage lies outside 0 to 100, the folder cannot be
// read, no task matches, the new file cannot be written, or the walk reaches
// an ".ics" file that cannot be read or that libical reads only with errors
// or not at all: such a file might hold the task that should change, so no
// later task is changed in its place, and it is never rewritten (libical
// would write its error markers into it). Files without a VTODO are passed
// over. A task whose updated file libical would read back only with errors,
// or with other values than the update made, is not written either. Nothing is logged and nothing throws.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char kTasksFolderVariable[] = "LVMAPI_TASKS_DIR";
inline constexpr const char kTasksFolderName[] = "Tasks";

// The task folder as described above.
std::string TaskFolderPath();

// `comment` is appended as the person typed it.
bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment);
