#include "surveys/survey_reply.h"

#include <iostream>
#include <memory>
#include <sstream>

#include "bizobjects/stored_replies.h"
#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "data/row_walk.h"
#include "util/identifiers.h"

bool ProcessSurveyReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  connection.Open();
  const std::string replyId = NewGuidString();

  // The tags are case-sensitive and their values lose their leading spaces.
  // Identifiers come from the first occurrence of their tags.
  std::string surveyId;
  GetTagValue(body, "SurveyID", surveyId);
  if (surveyId.empty()) {
    return Reported(WithoutOwner(body, {"<SurveyID>", "<answer1>", "<QuestionID1>"}), outcome);
  }

  // Both tables are loaded whole: the replies to recognise a message seen
  // before, the responses because their trace on standard output lists every
  // stored response (their load and save; both collections also print their
  // operation traces when they are destroyed).
  std::ostringstream discardedTrace;
  CSurveyReplys replies;
  auto replyStore = LoggedTableStore(&connection, replies, discardedTrace);
  replyStore.load();
  CSurveyResponses responses;
  auto responseStore = LoggedTableStore(&connection, responses, std::cout);
  responseStore.load();

  if (HoldsStoredReply(replies, surveyId, originator, date)) return Reported(ReplyOutcome::kStoredBefore, outcome);

  // Answer N belongs to the question whose identifier stands in question tag
  // N; the walk ends at the first N without one. An answer is the first pair
  // of its tags that holds more than blanks, so an answer typed under the
  // blank form the reply quotes is found. Quotes are doubled here, for SQL:
  // that is this operation's business, not the sender's.
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
  // Answers to a survey that has been deleted would be rows of nothing; the
  // message is left for a person instead.
  if (!SomeRowNames(connection, "SELECT SurveyID FROM Survey", surveyId)) {
    return Reported(ReplyOutcome::kOwnerNotFound, outcome);
  }

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
