// Reply intake (commands 4 and 5): replies fetched through the mail-access
// program are handed one by one to the survey and goal status reply parsers.
#pragma once

#include <cstdint>

#include "util/run_log.h"

// Fetches the survey replies (operation 4, subject "Corvane Survey",
// `automation` as the flag) and hands each to ProcessSurveyReply; with
// `withGoalReplies`, then the goal status replies ("Corvane Strategy") to
// ProcessGoalStatusReply. Each pass logs how many replies it handed over,
// whatever the parser made of them, names each that stored nothing with the
// reason ("Not stored, left for reading: ..."), and leaves the mail-access
// program the hand-back (exchange/hand_back.h) before it deletes the file, so
// that those replies are filed for a person to read. Returns the count of the last pass: 0 when the
// mail-access program could not be started or wrote no file. A parser's
// exception (a failing statement) leaves at once; the current exchange file
// then stays and its count line is not written. `log` is not owned; without
// one nothing is logged.
int16_t LVML_ProcessSurveyReplyEmails(RunLog* log, int automation, bool withGoalReplies);
