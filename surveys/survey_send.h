// Survey sending (commands 2 and 3): one e-mail body for a survey, handed with
// the survey's whole distribution list to the mail-access program.
//
// LVML_SendSurveyEmails loads the survey (picked from all survey rows by
// identifier, braces and letter case ignored), its questions, persons, extra
// addresses and all multiple-choice sets, renders the body (plain for command
// 3), writes one outgoing exchange file naming every recipient, runs the
// mail-access program on it with operation 2 and the subject
// "Corvane Survey - " + title, and deletes the file. Every step is reported in
// the run log. A survey that is not found is still sent, with an empty title,
// greeting and instructions. Database failures throw (the gateway has logged
// them) and leave the workflow before any file is written.
#pragma once

#include <string>

#include "surveys/survey_records.h"
#include "util/run_log.h"

// False only when the survey data could not be initialised (nothing is then
// sent); true once sending was attempted.
bool LVML_SendSurveyEmails(std::string surveyId, RunLog* runLog, bool plainSurvey);

// Reads every survey row on a new connection into mailing.Surveys and takes
// title, greeting and instructions from the row matching `surveyId`. False
// when the Survey table is empty.
bool GetExistingSurveysFromDB(SurveyMailing& mailing, std::string surveyId);

// Fills the questions and recipients of mailing.SurveyID (persons first, then
// extra addresses) and loads the question types; false when that last load
// reports failure.
bool InitSurveyFromDB(SurveyMailing& mailing);
