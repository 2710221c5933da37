// The survey queries the generic table loads cannot give: a survey's persons,
// its extra e-mail addresses, its questions in question-number order, every
// multiple-choice set with its answers, and the person search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bizobjects/bizobjects.h"
#include "data/db_connection.h"
#include "surveys/survey_records.h"

// Each runs on the caller's open connection (not opened, closed or owned
// here) and hands every row, in the database's order, to the collection's
// load (state Clean). The entity queries are true whether or not rows were
// found. A failing statement throws (after the database error log entry);
// elements appended before it stay in the collection.

// The persons assigned to the survey. Appends.
bool LVSAL_GetSurveyPersons(CDBConnection& connection, CPersons& persons, std::string surveyId);
// The survey's extra addresses. Appends.
bool LVSAL_GetSurveyOtherEmails(CDBConnection& connection, CSurveyOtherEmails& otherEmails, std::string surveyId);
// The survey's questions by ascending question number. Clears the collection first.
bool LVSAL_GetSurveyQuestions(CDBConnection& connection, CSurveyQuestions& questions, std::string surveyId);
// Every multiple-choice set with its answers, appended to `sets`: consecutive
// rows of one set form one entry (so a set whose rows are split by another
// set's rows appears more than once); a set without answers gets one empty
// answer numbered 0.
void LVSAL_GetMultipleChoiceSets(CDBConnection& connection, std::vector<MultipleChoiceSet>& sets);
// What a reply is checked against, without building collections (whose
// traces would reach standard output), from the same statements as the
// queries above: the survey's list as the send builds it (its persons'
// addresses, then its other addresses), its question identifiers in
// question-number order, and the addresses of the person `personId` as the
// person search by identifier finds them.
std::vector<std::string> LVSAL_GetSurveyAddresses(CDBConnection& connection, std::string surveyId);
std::vector<std::string> LVSAL_GetSurveyQuestionIds(CDBConnection& connection, std::string surveyId);
std::vector<std::string> LVSAL_GetPersonEmails(CDBConnection& connection, std::string personId);
// The senders of the replies stored for the survey, as stored: a reply row
// carries the identifier as the send run spelled it, so rows are matched
// with braces and letter case ignored.
std::vector<std::string> LVSAL_GetSurveyReplyAddresses(CDBConnection& connection, std::string surveyId);
// Persons by identifier, or else by the beginnings of first and last name
// (none given: everybody). When nothing is found for a last name alone, it is
// tried once more as a first name. Appends.
bool LVSAL_FindPersons(CDBConnection& connection, CPersons& persons, std::string firstName, std::string lastName,
                       std::string personId);
