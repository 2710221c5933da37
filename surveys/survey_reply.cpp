#include "surveys/survey_reply.h"

#include <iostream>
#include <memory>
#include <sstream>

#include "bizobjects/stored_replies.h"
#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "util/identifiers.h"

bool ProcessSurveyReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  connection.Open();
  const std::string replyId = NewGuidString();

  std::string surveyId;
  GetTagValue(body, "SurveyID", surveyId);
  if (surveyId.empty()) return Reported(ReplyOutcome::kNotStored, outcome);

  // Both tables are loaded whole: the replies to recognise a message seen
  // before, the responses because their trace on standard output lists every
  // stored response.
  std::ostringstream discardedTrace;
  CSurveyReplys replies;
  auto replyStore = LoggedTableStore(&connection, replies, discardedTrace);
  replyStore.load();
  CSurveyResponses responses;
  auto responseStore = LoggedTableStore(&connection, responses, std::cout);
  responseStore.load();

  if (HoldsStoredReply(replies, surveyId, originator, date)) return Reported(ReplyOutcome::kNotStored, outcome);

  int answered = 0;
  for (int n = 1;; ++n) {
    const std::string answer = TypedTagValue(body, "answer" + std::to_string(n));
    std::string questionId;
    GetTagValue(body, "QuestionID" + std::to_string(n), questionId);
    // An answer counts even where its question identifier is missing, so a
    // reply row may be stored without responses.
    if (!answer.empty()) ++answered;
    if (questionId.empty()) break;
    if (answer.empty()) continue;
    responses.add(std::make_unique<CSurveyResponse>(NewGuidString(), replyId, WithQuotesDoubled(questionId),
                                                    WithQuotesDoubled(answer)));
  }
  if (answered == 0) return Reported(ReplyOutcome::kNothingTyped, outcome);

  // The responses and their reply row are one unit: a reply half stored (a
  // failure or a crash between its rows) would have its responses stored
  // again when the mail-access program offers it a second time, since a
  // reply is recognised by its reply row.
  CDBTransaction unit(&connection);
  unit.Begin();
  responseStore.save();
  replies.add(std::make_unique<CSurveyReply>(replyId, WithQuotesDoubled(surveyId), WithQuotesDoubled(originator),
                                             WithQuotesDoubled(date)));
  const bool saved = replyStore.save();
  unit.Commit();
  return Reported(saved ? ReplyOutcome::kStored : ReplyOutcome::kNotStored, outcome);
}
