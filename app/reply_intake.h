// Reply intake (commands 4 and 5): replies fetched through the mail-access
// program are handed one by one to the survey and goal status reply parsers.
//
// Contract: LVML_ProcessSurveyReplyEmails runs the mail-access program with
// operation 4, the subject "Corvane Survey" and `automation` as its flag,
// hands every record of the file it wrote (Originator<n>, Date<n>, Body<n>,
// n = 1, 2, ... up to the first incomplete one) to ProcessSurveyReply, logs
// the count and deletes the file; with `withGoalReplies` it then does the same
// with "Corvane Strategy" and ProcessGoalStatusReply. Every record handed over
// counts, whatever the parser made of it; one that reached its survey or
// strategy but had nothing typed between the tags is also named in the log,
// "Nothing stored from the reply of <originator> dated <date>: no answer
// between the tags". The result is the count of the last
// pass. A mail-access program that cannot be started, or that writes no file,
// gives a count of 0. An exception of a parser (a failing statement) leaves at
// once: the current exchange file stays and its count line is not written.
// `log` is not owned; without one nothing is logged.
#pragma once

#include <cstdint>

#include "util/run_log.h"

int16_t LVML_ProcessSurveyReplyEmails(RunLog* log, int automation, bool withGoalReplies);
