// Reply intake (commands 4 and 5): replies fetched through the mail-access
// program are handed one by one to the survey and goal status reply parsers.
#pragma once

#include <cstdint>

#include "app/run_log.h"

int16_t LVML_ProcessSurveyReplyEmails(RunLog* log, int automation, bool withGoalReplies);
