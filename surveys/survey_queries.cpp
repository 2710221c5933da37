#include "surveys/survey_queries.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>

#include "data/row_walk.h"
#include "tarnbase/vista_results.h"
#include "util/identifiers.h"

// Each query sends one fixed SQL text (two for a person search that falls
// back) and keeps every value as text. Identifiers put into a WHERE clause
// have their single quotes doubled, as do search names; a GUID holds none, so
// its statement is unchanged.

namespace {

template <class Element, std::size_t... Column>
std::unique_ptr<Element> ElementFromRow(const CVistaResults& row, std::index_sequence<Column...>) {
  return std::make_unique<Element>(row.GetField(static_cast<int32_t>(Column + 1))...);
}

// Loads one element per row, from columns 1..n in column order. True when a
// row was read.
template <class Element>
bool LoadRows(CDBConnection& connection, const std::string& sql, CBizObjectCollection<Element*>& collection) {
  bool any = false;
  ForEachResultRow(connection, sql, [&](const CVistaResults& row) {
    collection.load(ElementFromRow<Element>(row, std::make_index_sequence<Element::kColumnCount>{}));
    any = true;
  });
  return any;
}

constexpr const char kPersonSearchHead[] =
    "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, "
    "City, State, Zip  FROM Person ";

// The statements of the survey's list and questions, one home each for the
// send's queries and the reply's checks.
std::string SurveyPersonsSql(const std::string& surveyId) {
  return "SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, "
         "p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p "
         "ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '" +
         WithQuotesDoubled(surveyId) + "'";
}
std::string SurveyOtherEmailsSql(const std::string& surveyId) {
  return "SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '" +
         WithQuotesDoubled(surveyId) + "'";
}
std::string SurveyQuestionsSql(const std::string& surveyId) {
  return "SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, "
         "q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN "
         "SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON "
         "q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '" +
         WithQuotesDoubled(surveyId) + "' order by q.SurveyQuestionNumber ASC";
}
std::string PersonByIdSql(const std::string& personId) {
  return std::string(kPersonSearchHead) + "WHERE PersonID = '" + WithQuotesDoubled(personId) + "'";
}

// Column `column` of every row of `sql`, in row order.
std::vector<std::string> ColumnOf(CDBConnection& connection, const std::string& sql, int32_t column,
                                  std::vector<std::string> texts = {}) {
  ForEachResultRow(connection, sql, [&](const CVistaResults& row) { texts.push_back(row.GetField(column)); });
  return texts;
}

}  // namespace

bool LVSAL_GetSurveyPersons(CDBConnection& connection, CPersons& persons, std::string surveyId) {
  LoadRows(connection, SurveyPersonsSql(surveyId), persons);
  return true;
}

bool LVSAL_GetSurveyOtherEmails(CDBConnection& connection, CSurveyOtherEmails& otherEmails, std::string surveyId) {
  LoadRows(connection, SurveyOtherEmailsSql(surveyId), otherEmails);
  return true;
}

bool LVSAL_GetSurveyQuestions(CDBConnection& connection, CSurveyQuestions& questions, std::string surveyId) {
  questions.clear();
  LoadRows(connection, SurveyQuestionsSql(surveyId), questions);
  return true;
}

void LVSAL_GetMultipleChoiceSets(CDBConnection& connection, std::vector<MultipleChoiceSet>& sets) {
  MultipleChoiceSet working;
  ForEachResultRow(connection,
             "SELECT mcSet.MultipleChoiceSetID, mcSet.MultipleChoiceSetName, answer.AnswerID, answer.AnswerDesc, "
             "xref.AnswerNum FROM SurveyMultipleChoiceSet mcSet LEFT JOIN SurveyMultipleChoiceXRef xref ON "
             "xref.MultipleChoiceSetID = mcSet.MultipleChoiceSetID LEFT JOIN SurveyMultipleChoiceAnswer answer ON "
             "answer.AnswerID = xref.AnswerID ORDER BY mcSet.MultipleChoiceSetName, xref.AnswerNum ASC",
             [&](const CVistaResults& row) {
               std::string setId = row.GetField(1);
               if (setId != working.MultipleChoiceSetID) {
                 if (!working.Answers.empty()) sets.push_back(working);
                 working.Answers.clear();
                 working.MultipleChoiceSetID = std::move(setId);
                 working.MultipleChoiceSetName = row.GetField(2);
               }
               working.Answers.push_back({row.GetField(3), row.GetField(4), LeadingInteger(row.GetField(5))});
             });
  if (!working.Answers.empty()) sets.push_back(std::move(working));
}

bool LVSAL_FindPersons(CDBConnection& connection, CPersons& persons, std::string firstName, std::string lastName,
                       std::string personId) {
  DoubleSingleQuotes(firstName);
  DoubleSingleQuotes(lastName);

  std::string sql = kPersonSearchHead;
  if (!personId.empty()) {
    sql = PersonByIdSql(personId);
  } else {
    if (!firstName.empty()) sql += " WHERE (FirstName like '" + firstName + "%')";
    if (!lastName.empty()) {
      sql += firstName.empty() ? " WHERE" : " AND (";
      sql += " LastName like '" + lastName + "%'";
      if (!firstName.empty()) sql += ")";
    }
  }
  const bool found = LoadRows(connection, sql, persons);

  // A single name typed into the last-name field may well be a first name.
  if (!found && personId.empty() && firstName.empty()) {
    LoadRows(connection, std::string(kPersonSearchHead) + " WHERE FirstName like '" + lastName + "%'", persons);
  }
  return true;
}



std::vector<std::string> LVSAL_GetSurveyAddresses(CDBConnection& connection, std::string surveyId) {
  std::vector<std::string> addresses = ColumnOf(connection, SurveyPersonsSql(surveyId), 5);
  return ColumnOf(connection, SurveyOtherEmailsSql(surveyId), 3, std::move(addresses));
}

std::vector<std::string> LVSAL_GetSurveyQuestionIds(CDBConnection& connection, std::string surveyId) {
  return ColumnOf(connection, SurveyQuestionsSql(surveyId), 1);
}

std::vector<std::string> LVSAL_GetPersonEmails(CDBConnection& connection, std::string personId) {
  return ColumnOf(connection, PersonByIdSql(personId), 5);
}

std::vector<std::string> LVSAL_GetSurveyReplyAddresses(CDBConnection& connection, std::string surveyId) {
  std::vector<std::string> addresses;
  ForEachResultRow(connection, "SELECT SurveyID, ReplyEmail FROM SurveyReply", [&](const CVistaResults& row) {
    if (SameGuid(row.GetField(1), surveyId)) addresses.push_back(row.GetField(2));
  });
  return addresses;
}
