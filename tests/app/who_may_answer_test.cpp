// Who may answer, and what counts as an answer: replies from people a
// mailing did not go to, answers to questions of no survey of theirs, a
// status that is no number, and two different replies of one person with one
// date, each with what became of it and the rows it left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bizobjects/stored_replies.h"
#include "reply_database.h"
#include "reply_messages.h"
#include "strategy/goal_status_reply.h"
#include "surveys/survey_reply.h"

namespace {

using namespace testing_support::replied_to;
using testing_support::GoalReplyBody;
using testing_support::SurveyAnswer;
using testing_support::SurveyReplyBody;
using Table = std::vector<std::vector<std::string>>;

// A question of the other survey only.
const std::string kOtherSurveysQuestion = "{C0A80001-5E11-4D2A-9F3B-0000000000A0}";
const std::string kMember = "ann.lee@example.org";
const std::string kGoalPerson = "grace.mwangi@example.org";
const std::string kDate = "2027-04-02 09:15:00";

enum class Kind { kSurveyReply, kGoalStatus };

struct Offer {
  Kind kind;
  std::string from;
  std::string body;
  ReplyOutcome outcome;
  std::string reason;  // the log's words for a reply that stored nothing
};

struct Case {
  const char* what;
  std::vector<Offer> offers;  // in turn, all dated kDate
  Table answers;              // ReplyEmail, question, answer of every stored survey response
  Table statuses;             // ReplyEmail, goal, percentage of every stored goal status
};

Offer Survey(const std::string& from, const std::vector<std::string>& questions,
             const std::vector<SurveyAnswer>& answers, ReplyOutcome outcome, const std::string& reason = "") {
  return {Kind::kSurveyReply, from, SurveyReplyBody(kSurvey, questions, answers), outcome, reason};
}
Offer Status(const std::string& from, const std::string& status, ReplyOutcome outcome, const std::string& reason = "") {
  return {Kind::kGoalStatus, from, GoalReplyBody(kStrategy, kGoal, status, "noted"), outcome, reason};
}

class WhoMayAnswer : public testing_support::ReplyDatabaseTest {
 protected:
  void SetUp() override {
    ReplyDatabaseTest::SetUp();
    testing_support::AddRepliedToRows(m_dbPath);
    Exec("INSERT INTO SurveyQuestion (SurveyQuestionID) VALUES ('" + kOtherSurveysQuestion +
         "'); INSERT INTO SurveyQuestionXRef VALUES ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B3}', '" +
         kOtherSurveysQuestion + "');");
  }
  ReplyOutcome Process(const Offer& offer) {
    testing_support::CoutCapture quiet;
    ReplyOutcome outcome = ReplyOutcome::kNotStored;
    if (offer.kind == Kind::kSurveyReply) {
      ProcessSurveyReply(offer.from, kDate, offer.body, &outcome);
    } else {
      ProcessGoalStatusReply(offer.from, kDate, offer.body, &outcome);
    }
    return outcome;
  }
  Table Answers() {
    return Rows("SELECT r.ReplyEmail, s.SurveyQuestionID, s.SurveyQuestionResponse FROM SurveyResponse s "
                "JOIN SurveyReply r ON r.ReplyID = s.ReplyID ORDER BY 1, 2, 3");
  }
  std::size_t Count(const std::string& table) { return Rows("SELECT * FROM " + table).size(); }
  Table Statuses() {
    return Rows("SELECT r.ReplyEmail, s.GoalID, s.PercentComplete FROM StrategyGoalStatusResponse s "
                "JOIN StrategyGoalStatusReply r ON r.ReplyID = s.ReplyID ORDER BY 1, 2, 3");
  }
};

TEST_F(WhoMayAnswer, OnlyTheListedAnswerTheirOwnQuestionsOnceAndAStatusIsANumber) {
  const Case cases[] = {
      {"a stranger's survey reply",
       {Survey("mallory@example.org", {kQ1}, {{1, "yes"}}, ReplyOutcome::kNotOnList, "not on the survey's list")},
       {},
       {}},
      {"a member's answers to another survey's question are left out, the rest stored",
       {Survey(kMember, {kQ1, kOtherSurveysQuestion, "{NO-SUCH-QUESTION}"}, {{1, "yes"}, {2, "foreign"}, {3, "none"}},
               ReplyOutcome::kStored)},
       {{kMember, kQ1, "yes"}},
       {}},
      {"a member's reply with nothing but foreign answers is left for a person",
       {Survey(kMember, {kOtherSurveysQuestion}, {{1, "foreign"}}, ReplyOutcome::kNoSurveyQuestion,
               "no answer to a question of this survey")},
       {},
       {}},
      {"the first answer typed to a question counts, a second one does not",
       {Survey(kMember, {kQ1, kQ2, kQ1, kQ1}, {{1, "  "}, {2, "b"}, {3, "first"}, {4, "again"}},
               ReplyOutcome::kStored)},
       {{kMember, kQ1, "first"}, {kMember, kQ2, "b"}},
       {}},
      {"a member who is not the goal's person",
       {Status(kMember, "100", ReplyOutcome::kNotResponsible, "not the goal's responsible person")},
       {},
       {}},
      {"a status of words is no percentage",
       {Status(kGoalPerson, "done", ReplyOutcome::kStatusNotANumber, "the status is not a number"),
        Status(kGoalPerson, "about half", ReplyOutcome::kStatusNotANumber, "the status is not a number")},
       {},
       {}},
      {"the goal's person, the domain in capitals",
       {Status("Grace <grace.mwangi@EXAMPLE.org>", "40%", ReplyOutcome::kStored)},
       {},
       {{"Grace <grace.mwangi@EXAMPLE.org>", kGoal, "40"}}},
      {"the same reply again is stored once; a third with other answers and the same date is stored",
       {Survey(kMember, {kQ1}, {{1, "yes"}}, ReplyOutcome::kStored),
        Survey(kMember, {kQ1}, {{1, "yes"}}, ReplyOutcome::kStoredBefore),
        Survey(kMember, {kQ1}, {{1, "no"}}, ReplyOutcome::kStored)},
       {{kMember, kQ1, "no"}, {kMember, kQ1, "yes"}},
       {}},
      {"a second status of the same date with another percentage is stored",
       {Status(kGoalPerson, "30", ReplyOutcome::kStored), Status(kGoalPerson, "30", ReplyOutcome::kStoredBefore),
        Status(kGoalPerson, "60", ReplyOutcome::kStored)},
       {},
       {{kGoalPerson, kGoal, "30"}, {kGoalPerson, kGoal, "60"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exec("DELETE FROM SurveyReply; DELETE FROM SurveyResponse; DELETE FROM StrategyGoalStatusReply;"
         "DELETE FROM StrategyGoalStatusResponse;");
    for (const Offer& offer : c.offers) {
      const ReplyOutcome outcome = Process(offer);
      EXPECT_EQ(outcome, offer.outcome);
      EXPECT_EQ(ReasonNotStored(outcome), offer.reason);
    }
    EXPECT_EQ(Answers(), c.answers);
    EXPECT_EQ(Statuses(), c.statuses);
  }
}

TEST_F(WhoMayAnswer, AStatusThatIsNoNumberLeavesTheTaskAlone) {
  SetSetting(6, true);
  const std::string task = m_tasks + "/goal.ics";
  const std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\n"
                           "UID:goal\r\nDTSTAMP:20270101T080000Z\r\nPERCENT-COMPLETE:70\r\nDESCRIPTION:Goal " +
                           kGoal + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  testing_support::WriteFile(task, text);
  EXPECT_EQ(Process(Status(kGoalPerson, "done", ReplyOutcome::kStatusNotANumber)), ReplyOutcome::kStatusNotANumber);
  EXPECT_EQ(testing_support::ReadFile(task), text);
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 0u);
}

TEST_F(WhoMayAnswer, TwentyThousandAnswersInOneReplyAreAllStored) {
  constexpr int kPairs = 20000;
  Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kPairs) +
       ") INSERT INTO SurveyQuestion (SurveyQuestionID, SurveyQuestionNumber) "
       "SELECT printf('{B0000000-0000-4000-8000-%012d}', i), i FROM n;"
       "INSERT INTO SurveyQuestionXRef SELECT '" + kSurvey +
       "', SurveyQuestionID FROM SurveyQuestion WHERE SurveyQuestionID LIKE '{B0000000-%';");
  std::vector<std::string> questions;
  std::vector<SurveyAnswer> answers;
  for (int n = 1; n <= kPairs; ++n) {
    char id[40];
    std::snprintf(id, sizeof id, "{B0000000-0000-4000-8000-%012d}", n);
    questions.push_back(id);
    answers.push_back({n, "answer number " + std::to_string(n) + " with some words typed around it"});
  }
  const Offer offer{Kind::kSurveyReply, kMember, SurveyReplyBody(kSurvey, questions, answers), ReplyOutcome::kStored,
                    ""};
  ASSERT_GT(offer.body.size(), 2000000u);
  EXPECT_EQ(Process(offer), ReplyOutcome::kStored);
  EXPECT_EQ(Count("SurveyResponse"), static_cast<std::size_t>(kPairs));
  EXPECT_EQ(Rows("SELECT SurveyQuestionResponse FROM SurveyResponse WHERE SurveyQuestionID = "
                 "'{B0000000-0000-4000-8000-000000012345}'"),
            (Table{{"answer number 12345 with some words typed around it"}}));
}

}  // namespace
