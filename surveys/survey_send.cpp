#include "surveys/survey_send.h"

// Not built yet: commands 2 and 3 do nothing so far.
bool LVML_SendSurveyEmails(std::string, RunLog*, bool) { return true; }
