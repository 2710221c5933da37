// What LvMAPI asks of the mail-access program and what the two programs'
// exit statuses mean: one list both programs include, so a number means the
// same on either side of the exchange.
//
// The statuses are those of sysexits.h. LvMAPI ends with its own statuses
// (bad arguments, a folder it cannot write in, a database in use) or with
// the most serious status its mail-access runs ended with.
#pragma once

#include <cstddef>

namespace exchange {

// The mail-access program's name, looked for beside LvMAPI first and then on
// PATH.
inline constexpr const char kMailAccessProgram[] = "LVEmailAccess";

// Operation numbers, the first argument of the mail-access program.
inline constexpr int kSendGoalNotification = 1;  // outgoing file, one recipient
inline constexpr int kSendSurvey = 2;            // outgoing file, the whole distribution list
inline constexpr int kFetchReplies = 4;          // incoming file, written by the mail-access program

// The goal's task in the mailbox's own task list, where the mail provider
// keeps one (Microsoft To Do through Microsoft Graph):
//   LVEmailAccess --update-goal-task GOAL-ID PERCENT COMMENT
// appends exchange::GoalStatusUpdateText(PERCENT, COMMENT) to the body of the
// first task holding GOAL-ID and sets its status from PERCENT (0 to 100).
// It ends with kExitDone, kExitNoTask, kExitNoTaskStore, or a status below.
inline constexpr const char kUpdateGoalTask[] = "--update-goal-task";
// The longest comment put on that command line. Windows takes 32,767
// characters for a whole command line, and a comment is whatever a person
// typed; a longer one is cut, and the task says so.
inline constexpr std::size_t kMaxTaskCommentBytes = 8000;

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
// Bad arguments.
inline constexpr int kExitUsage = 64;
// Bad data in the exchange: recipients without a usable address (the others
// were sent to), or an outgoing file whose elements do not pair up (nothing
// was sent).
inline constexpr int kExitDataError = 65;
// The mailbox's task list has no task holding the goal: nothing changed.
inline constexpr int kExitNoTask = 66;  // EX_NOINPUT
// The mail provider keeps no tasks the mail-access program can reach (every
// transport but Microsoft Graph): nothing done; the goal's task is LvMAPI's
// own business (Outlook, or the iCalendar folder).
inline constexpr int kExitNoTaskStore = 69;  // EX_UNAVAILABLE
// LvMAPI cannot write in its own folder.
inline constexpr int kExitCannotCreate = 73;
// A failure that passes by itself (a mailbox or database in use, a server
// out of reach, messages queued): nothing is lost, a later run completes it.
inline constexpr int kExitTemporary = 75;
// Bad settings or a refused login: a person must fix LVEmailAccess.conf.
inline constexpr int kExitConfig = 78;

}  // namespace exchange
