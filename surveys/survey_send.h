// Survey sending (commands 2 and 3): one e-mail body for a survey, handed with
// the survey's whole distribution list to the mail-access program.
#pragma once

#include <string>

#include "app/run_log.h"

bool LVML_SendSurveyEmails(std::string surveyId, RunLog* runLog, bool plainSurvey);
