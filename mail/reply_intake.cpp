#include "mail/reply_intake.h"

// Not built yet: commands 4 and 5 fetch nothing so far.
int16_t LVML_ProcessSurveyReplyEmails(RunLog*, int, bool) { return 0; }
