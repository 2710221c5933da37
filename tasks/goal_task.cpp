#include "tasks/goal_task.h"

#include <algorithm>
#include <exception>

#include "exchange/operations.h"
#include "platform/automation.h"
#include "platform/directory.h"
#include "platform/process.h"
#include "tasks/outlook_task.h"
#include "tasks/task_store.h"
#include "util/text_files.h"

namespace {

enum class MailboxTask {
  Updated,
  NotUpdated,  // no task holds the goal, or the provider refused or was out of reach
  NoneKept,    // the mail provider keeps no tasks the mail-access program reaches
};

// Asks the mail-access program to update the task in the mailbox. What it
// writes goes to its own log; both outputs are read while it runs, so it
// never waits on a full pipe.
MailboxTask UpdateMailboxTask(const std::string& goalId, int32_t percent, const std::string& comment) {
  platform::ProcessOutcome outcome;
  try {
    outcome = platform::RunAndWait(
        platform::SiblingProgram(exchange::kMailAccessProgram),
        {exchange::kUpdateGoalTask, goalId, std::to_string(percent), CommentForCommandLine(comment)},
        platform::ErrorOutput::Capture, platform::StandardOutput::Capture);
  } catch (const std::exception&) {
    return MailboxTask::NotUpdated;  // out of memory: a task update never fails the reply
  }
  // A program that cannot be started has fetched no mail either: the stores
  // of before.
  if (!outcome.started) return MailboxTask::NoneKept;
  if (outcome.signal != 0) return MailboxTask::NotUpdated;
  if (outcome.exitCode == exchange::kExitDone) return MailboxTask::Updated;
  return outcome.exitCode == exchange::kExitNoTaskStore ? MailboxTask::NoneKept : MailboxTask::NotUpdated;
}

}  // namespace

// Someone who names a folder, or makes one beside the program, wants it:
// Outlook needs nothing set up, the folder is never there by chance.
bool CalendarTaskStoreChosen() {
  return !NamedTaskFolder().empty() || platform::IsDirectory(PathBesideProgram(kTasksFolderName));
}

std::string CommentForCommandLine(const std::string& comment) {
  std::string text = comment;
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  if (text.size() <= exchange::kMaxTaskCommentBytes) return text;
  const std::string note = " [cut: the comment ran to " + std::to_string(text.size()) + " bytes]";
  size_t keep = exchange::kMaxTaskCommentBytes - note.size();
  // Not inside a UTF-8 character: back to the byte that starts one.
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return text.substr(0, keep) + note;
}

bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment) {
  if (CalendarTaskStoreChosen()) return UpdateCalendarGoalTask(goalId, percent, comment);
  // Every store refuses these alike; no program is started for them.
  if (goalId.empty() || percent < 0 || percent > 100) return false;
  switch (UpdateMailboxTask(goalId, percent, comment)) {
    case MailboxTask::Updated: return true;
    case MailboxTask::NotUpdated: return false;
    case MailboxTask::NoneKept: break;
  }
  if (!platform::AutomationAvailable()) return UpdateCalendarGoalTask(goalId, percent, comment);
  return UpdateOutlookTask(goalId, percent, comment);
}
