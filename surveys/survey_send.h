// Survey sending (commands 2 and 3): one e-mail body for a survey, handed with
// the survey's whole distribution list to the mail-access program.
#pragma once

#include <string>

#include "surveys/survey_records.h"
#include "util/run_log.h"

// Loads the survey, its questions, persons, extra addresses and every
// multiple-choice set, renders the body (plain for command 3) and hands it
// with every recipient to the mail-access program in one exchange file
// (operation 2, subject "Corvane Survey - " + title, the mailing named
// "survey {ID}" for commands 2 and 3 alike). Whoever a reply to the survey
// is stored from is left off the list (the run log says how many), so a
// later run reminds only those who have not answered. Every step is reported
// in `runLog`, which may be null. A survey that is not found is still sent,
// with an empty title, greeting and instructions. False only when the survey
// data could not be initialised (nothing is then sent); true once sending was
// attempted. Database failures throw (the gateway has logged them) before any
// file is written.
bool LVML_SendSurveyEmails(std::string surveyId, RunLog* runLog, bool plainSurvey);

// Reads every survey row on a new connection into mailing.Surveys and takes
// title, greeting and instructions from the row matching `surveyId` (braces
// and letter case ignored). False when the Survey table is empty.
bool GetExistingSurveysFromDB(SurveyMailing& mailing, std::string surveyId);

// Fills the questions and recipients of mailing.SurveyID (persons first, then
// extra addresses) and loads the question types; false when that last load
// reports failure.
bool InitSurveyFromDB(SurveyMailing& mailing);
