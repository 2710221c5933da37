#include "tasks/goal_task.h"

#include "platform/automation.h"
#include "platform/directory.h"
#include "tasks/outlook_task.h"
#include "tasks/task_store.h"
#include "util/text_files.h"

// Someone who names a folder, or makes one beside the program, wants it:
// Outlook needs nothing set up, the folder is never there by chance.
bool CalendarTaskStoreChosen() {
  return !NamedTaskFolder().empty() || platform::IsDirectory(PathBesideProgram(kTasksFolderName));
}

bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment) {
  if (!platform::AutomationAvailable() || CalendarTaskStoreChosen()) {
    return UpdateCalendarGoalTask(goalId, percent, comment);
  }
  return UpdateOutlookTask(goalId, percent, comment);
}
