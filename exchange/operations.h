// What LvMAPI asks of the mail-access program and what the two programs'
// exit statuses mean: one list both programs include, so a number means the
// same on either side of the exchange.
//
// The statuses are those of sysexits.h. LvMAPI ends with its own statuses
// (bad arguments, a folder it cannot write in, a database in use) or with
// the most serious status its mail-access runs ended with.
#pragma once

namespace exchange {

// The mail-access program's name, looked for beside LvMAPI first and then on
// PATH.
inline constexpr const char kMailAccessProgram[] = "LVEmailAccess";

// Operation numbers, the first argument of the mail-access program.
inline constexpr int kSendGoalNotification = 1;  // outgoing file, one recipient
inline constexpr int kSendSurvey = 2;            // outgoing file, the whole distribution list
inline constexpr int kFetchReplies = 4;          // incoming file, written by the mail-access program

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
// Bad arguments.
inline constexpr int kExitUsage = 64;
// Bad data in the exchange: recipients without a usable address (the others
// were sent to), or an outgoing file whose elements do not pair up (nothing
// was sent).
inline constexpr int kExitDataError = 65;
// LvMAPI cannot write in its own folder.
inline constexpr int kExitCannotCreate = 73;
// A failure that passes by itself (a mailbox or database in use, a server
// out of reach, messages queued): nothing is lost, a later run completes it.
inline constexpr int kExitTemporary = 75;
// Bad settings or a refused login: a person must fix LVEmailAccess.conf.
inline constexpr int kExitConfig = 78;

}  // namespace exchange
