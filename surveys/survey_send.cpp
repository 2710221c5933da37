#include "surveys/survey_send.h"

#include <memory>
#include <sstream>
#include <string_view>
#include <unordered_set>

#include "bizobjects/table_store.h"
#include "exchange/operations.h"
#include "mail/exchange.h"
#include "surveys/survey_body.h"
#include "surveys/survey_queries.h"
#include "util/identifiers.h"
#include "util/text_files.h"

namespace {

bool LoadSurveyHeaders(CDBConnection& connection, SurveyMailing& mailing, const std::string& surveyId) {
  CSurveys surveys;
  std::ostringstream unreadTrace;
  LoadTable(&connection, surveys, unreadTrace);
  mailing.Surveys.clear();
  for (const CSurvey* survey : surveys) {
    mailing.Surveys.push_back({survey->GetSurveyID(), survey->GetSurveyTitle(), survey->GetSurveyGreeting(),
                               survey->GetSurveyInstructions()});
    if (!surveyId.empty() && SameGuid(surveyId, survey->GetSurveyID())) {
      mailing.Title = survey->GetSurveyTitle();
      mailing.Greeting = survey->GetSurveyGreeting();
      mailing.Instructions = survey->GetSurveyInstructions();
    }
  }
  return !surveys.empty();
}

// An address as replies are matched with it: the address alone, letters
// in lower case; empty for a text that is no address.
std::string AnsweringKey(std::string_view mailbox) {
  std::string key(MailAddressOf(mailbox));
  if (key.find('@') == std::string::npos) return std::string();
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

// Leaves out of the list everyone a reply to the survey came from, persons
// and other addresses alike: a later run of the mailing is a reminder to
// those who have not answered, never a second form to those who have.
// Returns how many were left out.
size_t LeaveOutThoseWhoAnswered(SurveyMailing& mailing) {
  CDBConnection connection;
  if (!connection.Open()) return 0;
  std::unordered_set<std::string> answered;
  for (const std::string& address : LVSAL_GetSurveyReplyAddresses(connection, mailing.SurveyID)) {
    if (std::string key = AnsweringKey(address); !key.empty()) answered.insert(std::move(key));
  }
  const size_t before = mailing.Recipients.size();
  std::erase_if(mailing.Recipients,
                [&](const MailRecipient& r) { return answered.count(AnsweringKey(r.Email)) != 0; });
  return before - mailing.Recipients.size();
}

}  // namespace

bool GetExistingSurveysFromDB(SurveyMailing& mailing, std::string surveyId) {
  CDBConnection connection;
  if (!connection.Open()) return false;
  return LoadSurveyHeaders(connection, mailing, surveyId);
}

bool InitSurveyFromDB(SurveyMailing& mailing) {
  CDBConnection connection;
  if (!connection.Open()) return false;
  LoadSurveyHeaders(connection, mailing, mailing.SurveyID);

  CSurveyQuestions questions;
  LVSAL_GetSurveyQuestions(connection, questions, mailing.SurveyID);
  mailing.Questions.clear();
  for (const CSurveyQuestion* q : questions) {
    mailing.Questions.push_back({q->GetSurveyQuestionID(), LeadingInteger(q->GetSurveyQuestionNumber()),
                                 LeadingInteger(q->GetSurveyQuestionType()), q->GetSurveyQuestion(),
                                 LeadingInteger(q->GetSurveyScaleMin()), LeadingInteger(q->GetSurveyScaleMax()),
                                 q->GetSurveyMultipleChoiceID()});
  }

  mailing.Recipients.clear();
  CPersons persons;
  LVSAL_GetSurveyPersons(connection, persons, mailing.SurveyID);
  for (const CPerson* p : persons) {
    mailing.Recipients.push_back(
        {p->GetPersonID(), p->GetFirstName(), p->GetMiddleName(), p->GetLastName(), p->GetEmail()});
  }
  CSurveyOtherEmails otherEmails;
  LVSAL_GetSurveyOtherEmails(connection, otherEmails, mailing.SurveyID);
  for (const CSurveyOtherEmail* other : otherEmails) {
    mailing.Recipients.push_back({kSentinelGuid, "", "", "", other->GetEmail()});
  }

  CSurveyQuestionTypes questionTypes;
  std::ostringstream unreadTrace;
  return LoadTable(&connection, questionTypes, unreadTrace);
}

bool LVML_SendSurveyEmails(std::string surveyId, RunLog* runLog, bool plainSurvey) {
  std::ostringstream discarded;
  RunLog& log = runLog ? *runLog : discarded;

  log << "Inside LVML_SendSurveyEmails" << std::endl;
  SurveyMailing mailing;
  mailing.SurveyID = surveyId;

  log << "Getting surveys from DB for ID: " << surveyId << std::endl;
  if (GetExistingSurveysFromDB(mailing, surveyId)) {
    log << "Successful return from GetExistingSurveysFromDB ( " << surveyId << " )" << std::endl;
    log << "    Title: " << mailing.Title << std::endl;
    log << "    Greeting: " << mailing.Greeting << std::endl;
    log << "    Instructions: " << mailing.Instructions << std::endl;
    log << "    Number of surveys: " << mailing.Surveys.size() << std::endl;
  } else {
    log << "FAILED return from GetExistingSurveysFromDB ( " << surveyId << " )" << std::endl;
  }

  if (!InitSurveyFromDB(mailing)) {
    log << "Failed to InitSurveyFromDB" << std::endl;
    return false;
  }

  const size_t answered = LeaveOutThoseWhoAnswered(mailing);

  {
    CDBConnection connection;
    if (connection.Open()) LVSAL_GetMultipleChoiceSets(connection, mailing.MultipleChoiceSets);
  }

  std::ostringstream body;
  SurveyBodyWriter writer(mailing);
  RenderSurveyBody(body, writer, mailing, !plainSurvey);

  const std::string subject = "Corvane Survey - " + mailing.Title;

  if (answered == 1) log << "1 has already answered and is not mailed again" << std::endl;
  if (answered > 1) log << answered << " have already answered and are not mailed again" << std::endl;
  log << "Going through the file to extract the distribution list..." << std::endl;
  for (const MailRecipient& r : mailing.Recipients) {
    log << "Found: " << DisplayName(r.FirstName, r.MiddleName, r.LastName) << ".  EMail: " << r.Email << std::endl;
  }

  // Commands 2 and 3 send one mailing: nobody gets both forms by a second run.
  SendOutgoingExchange(log, OutgoingExchangeText(mailing.Recipients, body.str(), MailingName("survey", surveyId)),
                       exchange::kSendSurvey, subject, mailing.Title);
  return true;
}
