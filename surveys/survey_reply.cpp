#include "surveys/survey_reply.h"

#include <iostream>
#include <memory>
#include <sstream>

#include "bizobjects/database_decorators.h"
#include "bizobjects/log_decorators.h"
#include "bizobjects/stored_replies.h"
#include "data/db_connection.h"
#include "util/identifiers.h"

namespace {

std::string QuestionIdValue(const std::string& body, int number) {
  const std::string tag = "QuestionID" + std::to_string(number);
  std::string value;
  ExtractBetween(body, "<" + tag + ">", "</" + tag + ">", value);
  return value;
}

std::string AnswerValue(const std::string& body, int number) {
  const std::string tag = "answer" + std::to_string(number);
  return ExtractTypedValue(body, "<" + tag + ">", "</" + tag + ">");
}

}  // namespace

bool ProcessSurveyReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  connection.Open();
  const std::string replyId = NewGuidString();

  std::string surveyId;
  ExtractBetween(body, "<SurveyID>", "</SurveyID>", surveyId);
  if (surveyId.empty()) return Reported(ReplyOutcome::kNotStored, outcome);

  // Both tables are loaded whole: the replies to recognise a message seen
  // before, the responses because their trace on standard output lists every
  // stored response.
  std::ostringstream discardedTrace;
  CSurveyReplys replies;
  CSurveyReplyDatabaseDecorator replyStore(
      std::make_unique<CSurveyReplyLogDecorator>(nullptr, &discardedTrace, &replies), &connection, &replies);
  replyStore.load();
  CSurveyResponses responses;
  CSurveyResponseDatabaseDecorator responseStore(
      std::make_unique<CSurveyResponseLogDecorator>(nullptr, &std::cout, &responses), &connection, &responses);
  responseStore.load();

  if (HoldsStoredReply(replies, surveyId, originator, date)) return Reported(ReplyOutcome::kNotStored, outcome);

  int answered = 0;
  for (int n = 1;; ++n) {
    const std::string answer = AnswerValue(body, n);
    const std::string questionId = QuestionIdValue(body, n);
    // An answer counts even where its question identifier is missing, so a
    // reply row may be stored without responses.
    if (!answer.empty()) ++answered;
    if (questionId.empty()) break;
    if (answer.empty()) continue;
    responses.add(std::make_unique<CSurveyResponse>(NewGuidString(), replyId, StoredAsTyped(questionId),
                                                    StoredAsTyped(answer)));
  }
  if (answered == 0) return Reported(ReplyOutcome::kNothingTyped, outcome);

  // The responses and their reply row are one unit: a reply half stored (a
  // failure or a crash between its rows) would have its responses stored
  // again when the mail-access program offers it a second time, since a
  // reply is recognised by its reply row.
  CDBTransaction unit(&connection);
  unit.Begin();
  responseStore.save();
  replies.add(std::make_unique<CSurveyReply>(replyId, StoredAsTyped(surveyId), StoredAsTyped(originator),
                                             StoredAsTyped(date)));
  const bool saved = replyStore.save();
  unit.Commit();
  return Reported(saved ? ReplyOutcome::kStored : ReplyOutcome::kNotStored, outcome);
}
