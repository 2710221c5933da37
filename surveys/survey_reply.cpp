#include "surveys/survey_reply.h"

#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "bizobjects/stored_replies.h"
#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "data/row_walk.h"
#include "surveys/survey_queries.h"
#include "util/identifiers.h"
#include "util/tag_index.h"

namespace {

// One answer as the reply carries it: the question identifier of its number
// and the answer typed, both as typed.
struct TypedAnswer {
  std::string questionId;
  std::string answer;
};

// True when `originator` is on the survey's list as the send builds it: its
// persons' addresses and its other addresses.
bool OnSurveyList(CDBConnection& connection, const std::string& surveyId, const std::string& originator) {
  for (const std::string& address : LVSAL_GetSurveyAddresses(connection, surveyId)) {
    if (SameMailAddress(address, originator)) return true;
  }
  return false;
}

// The answers that count: those to a question of the survey, the first one
// typed for each question. An answer to a question of another survey, or a
// second answer to one question, is no answer of this reply's sender to this
// survey and is left out; the rest of the reply still counts.
std::vector<TypedAnswer> AnswersToSurvey(CDBConnection& connection, const std::string& surveyId,
                                         std::vector<TypedAnswer> typed) {
  // Each question of the survey, and whether it has its answer yet.
  std::unordered_map<std::string, bool> answered;
  for (const std::string& question : LVSAL_GetSurveyQuestionIds(connection, surveyId)) {
    answered.emplace(GuidKey(question), false);
  }
  std::vector<TypedAnswer> kept;
  for (TypedAnswer& answer : typed) {
    const auto question = answered.find(GuidKey(answer.questionId));
    if (question == answered.end() || question->second) continue;
    question->second = true;
    kept.push_back(std::move(answer));
  }
  return kept;
}

}  // namespace

bool ProcessSurveyReply(std::string originator, std::string date, std::string body, ReplyOutcome* outcome) {
  CDBConnection connection;
  connection.Open();
  const std::string replyId = NewGuidString();
  const TagIndex tags(body);

  // The tags are case-sensitive and their values lose their leading spaces.
  // Identifiers come from the first occurrence of their tags.
  std::string surveyId;
  tags.Value("SurveyID", surveyId);
  if (surveyId.empty()) {
    return Reported(WithoutOwner(body, {"<SurveyID>", "<answer1>", "<QuestionID1>"}), outcome);
  }

  // Both tables are loaded whole: the replies and their responses to
  // recognise a message seen before, the responses also because their trace
  // on standard output lists every stored response (their load and save;
  // both collections also print their operation traces when they are
  // destroyed).
  std::ostringstream discardedTrace;
  CSurveyReplys replies;
  auto replyStore = LoggedTableStore(&connection, replies, discardedTrace);
  replyStore.load();
  CSurveyResponses responses;
  auto responseStore = LoggedTableStore(&connection, responses, std::cout);
  responseStore.load();

  // Answer N belongs to the question whose identifier stands in question tag
  // N; the walk ends at the first N without one. An answer is the first pair
  // of its tags that holds more than blanks, so an answer typed under the
  // blank form the reply quotes is found.
  int answered = 0;
  std::vector<TypedAnswer> typed;
  for (int n = 1;; ++n) {
    std::string answer = tags.TypedValue("answer" + std::to_string(n));
    std::string questionId;
    tags.Value("QuestionID" + std::to_string(n), questionId);
    // An answer counts even where its question identifier is missing.
    if (!answer.empty()) ++answered;
    if (questionId.empty()) break;
    if (answer.empty()) continue;
    typed.push_back({std::move(questionId), std::move(answer)});
  }
  if (answered == 0) return Reported(ReplyOutcome::kNothingTyped, outcome);
  // Answers to a survey that has been deleted would be rows of nothing; the
  // message is left for a person instead.
  const std::optional<std::string> storedSurveyId = RowNamed(connection, "SELECT SurveyID FROM Survey", surveyId);
  if (!storedSurveyId) return Reported(ReplyOutcome::kOwnerNotFound, outcome);

  const std::vector<TypedAnswer> answers = AnswersToSurvey(connection, *storedSurveyId, std::move(typed));
  std::vector<ResponseTexts> said;
  for (const TypedAnswer& answer : answers) said.push_back({answer.questionId, answer.answer});
  if (HoldsStoredReply(replies, responses, surveyId, originator, date, std::move(said))) {
    return Reported(ReplyOutcome::kStoredBefore, outcome);
  }
  // Only the people the survey went to answer it; another address of one of
  // them is accepted once the office adds it to the person or to the
  // survey's other addresses.
  if (!OnSurveyList(connection, *storedSurveyId, originator)) return Reported(ReplyOutcome::kNotOnList, outcome);
  // What was typed answers no question of the survey: a person reads it.
  if (answers.empty()) return Reported(ReplyOutcome::kNoSurveyQuestion, outcome);

  // The responses and their reply row are one unit: a reply half stored (a
  // failure or a crash between its rows) would have its responses stored
  // again when the mail-access program offers it a second time, since a
  // reply is recognised by its reply row. Quotes are doubled here, for SQL:
  // that is this operation's business, not the sender's.
  for (const TypedAnswer& answer : answers) {
    responses.add(std::make_unique<CSurveyResponse>(NewGuidString(), replyId, WithQuotesDoubled(answer.questionId),
                                                    WithQuotesDoubled(answer.answer)));
  }
  CDBTransaction unit(&connection);
  unit.Begin();
  responseStore.save();
  replies.add(std::make_unique<CSurveyReply>(replyId, WithQuotesDoubled(surveyId), WithQuotesDoubled(originator),
                                             WithQuotesDoubled(date)));
  const bool saved = replyStore.save();
  unit.Commit();
  return Reported(saved ? ReplyOutcome::kStored : ReplyOutcome::kNotStored, outcome);
}
