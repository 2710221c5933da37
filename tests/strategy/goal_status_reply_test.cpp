// Goal status replies turned into StrategyGoalStatusReply and
// StrategyGoalStatusResponse rows, and the goal's task updated where
// setting 6 is on.
#include "strategy/goal_status_reply.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "reply_database.h"
#include "reply_messages.h"
#include "util/identifiers.h"

namespace {

using testing_support::IsNewGuid;
using testing_support::GoalReplyBody;
using testing_support::ReadFile;
using Table = std::vector<std::vector<std::string>>;

const std::string kStrategy = "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}";
const std::string kGoal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";
const std::string kFrom = "grace.mwangi@example.org";
const std::string kDate = "2027-05-06 18:30:00";

class GoalStatusReplyTest : public testing_support::ReplyDatabaseTest {
 protected:
  void SetUp() override {
    ReplyDatabaseTest::SetUp();
    testing_support::AddRepliedToRows(m_dbPath);
  }
  Table Replies() {
    return Rows("SELECT ReplyID, StrategyID, ReplyEmail, ReplyDate FROM StrategyGoalStatusReply ORDER BY rowid");
  }
  Table Responses() {
    return Rows("SELECT ReplyID, GoalID, PercentComplete, Comment FROM StrategyGoalStatusResponse ORDER BY rowid");
  }
  std::size_t Count(const std::string& table) { return Rows("SELECT * FROM " + table).size(); }

  // A task of the goal in the test's task folder.
  std::string WriteTask(const std::string& goalId = kGoal) {
    const std::string path = m_tasks + "/goal.ics";
    testing_support::WriteFile(path, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\n"
                                     "BEGIN:VTODO\r\nUID:goal\r\nDTSTAMP:20270101T080000Z\r\nDESCRIPTION:Goal " +
                                         goalId + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    return path;
  }
};

TEST_F(GoalStatusReplyTest, StoresTheReplyAndThePercentageWithItsComment) {
  ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, kGoal, " 25 ", " On track ")));
  const Table replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(IsNewGuid(replies[0][0])) << replies[0][0];
  EXPECT_EQ(replies[0][1], kStrategy);
  EXPECT_EQ(replies[0][2], kFrom);
  EXPECT_EQ(replies[0][3], kDate);
  // The blanks the form puts around the comment go.
  EXPECT_EQ(Responses(), (Table{{replies[0][0], kGoal, "25", "On track"}}));
  EXPECT_TRUE(IsNewGuid(Rows("SELECT ResponseID FROM StrategyGoalStatusResponse").at(0).at(0)));
}

TEST_F(GoalStatusReplyTest, SendsTheReplyRowBeforeTheResponse) {
  SetSetting(6, false);
  ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, kGoal, "40", "don't worry")));
  const std::string replyId = Replies().at(0).at(0);
  const std::vector<std::string> statements = TakeStatements();
  ASSERT_EQ(statements.size(), 8u);
  EXPECT_EQ(statements[0], "SELECT ReplyID, StrategyID, ReplyEmail, ReplyDate  FROM StrategyGoalStatusReply");
  EXPECT_EQ(statements[1],
            "SELECT ResponseID, ReplyID, GoalID, PercentComplete, Comment  FROM StrategyGoalStatusResponse");
  // The goal must still be one of the strategy, and the sender its person,
  // before anything is stored for it.
  EXPECT_EQ(statements[2], "SELECT StrategyID FROM Strategy");
  EXPECT_NE(statements[3].find("INNER JOIN StrategyGoalXRef"), std::string::npos) << statements[3];
  EXPECT_NE(statements[4].find("FROM Person WHERE PersonID = "), std::string::npos) << statements[4];
  EXPECT_EQ(statements[5], "INSERT INTO StrategyGoalStatusReply(ReplyID, StrategyID, ReplyEmail, ReplyDate  )VALUES ('" +
                               replyId + "', '" + kStrategy + "', '" + kFrom + "', '" + kDate + "')");
  EXPECT_EQ(statements[6], "SELECT SettingNum, Descr, StrVal, BitVal, IntVal  FROM Settings");
  EXPECT_TRUE(std::regex_match(
      statements[7],
      std::regex(R"(INSERT INTO StrategyGoalStatusResponse\(ResponseID, ReplyID, GoalID, PercentComplete, Comment  \)VALUES \('\{[0-9A-F-]{36}\}', '\{[0-9A-F-]{36}\}', ')" +
                 std::regex_replace(kGoal, std::regex(R"([{}])"), R"(\$&)") + "', '40', 'don''t worry'\\)")))
      << statements[7];
}

TEST_F(GoalStatusReplyTest, ThePercentageIsReadLikeAtoi) {
  struct Case {
    std::string status;
    std::string stored;
  } cases[] = {
      {"25%", "25"},       {"25 percent", "25"}, {"150", "150"},
      {"-5", "-5"},        {"  +7x", "7"},       {"007", "7"},        {"\t12", "12"},
      {"100", "100"},      {"0", "0"},           {"3.9", "3"},        {"99999999999", "2147483647"},
      {"-99999999999", "-2147483648"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Exec("DELETE FROM StrategyGoalStatusReply; DELETE FROM StrategyGoalStatusResponse;");
    ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, kGoal, c.status, "")));
    const Table responses = Responses();
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0][2], c.stored);
    EXPECT_EQ(responses[0][3], "");
  }
}

TEST_F(GoalStatusReplyTest, ACommentWithoutStatusStoresTheReplyRowOnly) {
  EXPECT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, kGoal, " ", "Started late")));
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 1u);
  EXPECT_EQ(Count("StrategyGoalStatusResponse"), 0u);
}

TEST_F(GoalStatusReplyTest, NothingIsStoredOrReadWithoutStrategyOrWithoutStatusAndComment) {
  const std::string bodies[] = {
      GoalReplyBody("", kGoal, "50", "fine"),
      GoalReplyBody("   ", kGoal, "50", "fine"),
      "<StrategyId>" + kStrategy + "<Status>50</Status>",
      GoalReplyBody(kStrategy, kGoal, "", ""),
      "> <status> 30 </status>\r\n" + GoalReplyBody(kStrategy, kGoal, " ", " "),
      "Example:  <status> 25 </status>\r\n" + GoalReplyBody(kStrategy, kGoal, " ", " "),
      "no footer, just text: 50%",
  };
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    EXPECT_FALSE(ProcessGoalStatusReply(kFrom, kDate, body));
    EXPECT_TRUE(TakeStatements().empty());
  }
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 0u);
  EXPECT_EQ(Count("StrategyGoalStatusResponse"), 0u);
}

TEST_F(GoalStatusReplyTest, AMissingGoalTagNamesNoGoalOfTheStrategyAndStoresNothing) {
  ReplyOutcome outcome = ReplyOutcome::kStored;
  EXPECT_FALSE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, "", "10", ""), &outcome));
  EXPECT_EQ(outcome, ReplyOutcome::kOwnerNotFound);
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 0u);
}

TEST_F(GoalStatusReplyTest, TheFirstTagsOfAQuotedConversationCount) {
  const std::string body = GoalReplyBody(kStrategy, kGoal, "80", "now") + "\r\n> " +
                           GoalReplyBody("{OLD}", "{OLD-GOAL}", "20", "earlier");
  ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, body));
  EXPECT_EQ(Replies().at(0).at(1), kStrategy);
  EXPECT_EQ(Responses().at(0), (std::vector<std::string>{Replies().at(0).at(0), kGoal, "80", "now"}));
}

TEST_F(GoalStatusReplyTest, SqlInEveryFieldIsStoredVerbatimAndDoesNothingElse) {
  Exec("INSERT INTO Person (PersonID, FirstName) VALUES ('{P1}', 'Ann');");
  const std::string schemaQuery = "SELECT type, name, sql FROM sqlite_master ORDER BY name";
  const Table schema = Rows(schemaQuery);
  const std::string strategy = "{S'); DROP TABLE Strategy; --}";
  const std::string goal = "{G''); DELETE FROM Person; --}";
  const std::string originator = "x'); UPDATE Person SET FirstName = 'Eve'; --@example.org";
  const std::string date = "2027-05-06''' OR 1=1; --";
  const std::string comment = "'; DROP TABLE StrategyGoalStatusResponse; -- it''s fine";
  testing_support::AddRepliedToRows(m_dbPath, "{S}", goal);
  // The goal is one of the strategy, and the sender is its person.
  Exec("INSERT INTO Strategy (StrategyID) VALUES ('" + WithQuotesDoubled(strategy) +
       "'); INSERT INTO StrategyGoalXRef VALUES ('" + WithQuotesDoubled(strategy) + "', '" + WithQuotesDoubled(goal) +
       "'); INSERT INTO Person (PersonID, Email) VALUES ('{P2}', '" + WithQuotesDoubled(originator) +
       "'); UPDATE SMARTGoal SET PersonId = '{P2}' WHERE GoalID = '" + WithQuotesDoubled(goal) + "';");
  const Table persons = Rows("SELECT PersonID, FirstName FROM Person");
  ASSERT_TRUE(ProcessGoalStatusReply(originator, date,
                                     GoalReplyBody(strategy, goal, "5'); DROP TABLE Person; --", comment)));
  EXPECT_EQ(Rows("SELECT PersonID, FirstName FROM Person"), persons);
  EXPECT_EQ(Rows(schemaQuery), schema);
  const Table replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][1], strategy);
  EXPECT_EQ(replies[0][2], originator);
  EXPECT_EQ(replies[0][3], date);
  EXPECT_EQ(Responses(), (Table{{replies[0][0], goal, "5", comment}}));
}

TEST_F(GoalStatusReplyTest, AReplyAlreadyStoredIsNotStoredAgain) {
  SetSetting(6, true);
  const std::string task = WriteTask();
  const std::string body = GoalReplyBody(kStrategy, kGoal, "30", "");
  ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, body));
  const std::string updatedOnce = ReadFile(task);

  struct Case {
    const char* what;
    std::string strategyId, originator, date;
    bool stored;
  } cases[] = {
      {"the same message", kStrategy, kFrom, kDate, false},
      {"the strategy spelled without braces in lower case", "e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7", kFrom, kDate,
       false},
      {"another date", kStrategy, kFrom, "2027-05-07 08:00:00", true},
      {"the originator's domain in other letter case", kStrategy, "grace.mwangi@Example.ORG", kDate, true},
  };
  std::size_t stored = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TakeStatements();
    EXPECT_EQ(ProcessGoalStatusReply(c.originator, c.date, GoalReplyBody(c.strategyId, kGoal, "30", "")), c.stored);
    if (c.stored) ++stored;
    EXPECT_EQ(Count("StrategyGoalStatusReply"), stored);
    EXPECT_EQ(Count("StrategyGoalStatusResponse"), stored);
    if (!c.stored) {
      // Recognised right after the loads: nothing written, the task left alone.
      EXPECT_EQ(TakeStatements().size(), 2u);
      EXPECT_EQ(ReadFile(task), updatedOnce);
    }
  }
}

TEST_F(GoalStatusReplyTest, UpdatesTheGoalsTaskWithTheCommentAsTypedWhereSettingSixIsOn) {
  SetSetting(6, true);
  const std::string task = WriteTask();
  ASSERT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, kGoal, "60", "don't stop")));
  const std::string text = ReadFile(task);
  EXPECT_NE(text.find("PERCENT-COMPLETE:60\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(": don't stop"), std::string::npos) << text;
  EXPECT_EQ(text.find("don''t"), std::string::npos) << text;
  // The stored comment is as typed too.
  EXPECT_EQ(Responses().at(0).at(3), "don't stop");
}

TEST_F(GoalStatusReplyTest, LeavesTheTaskAloneWhenNoUpdateIsCalledFor) {
  struct Case {
    const char* what;
    int setting;  // -1: no Settings row 6
    std::string goalId, status, comment;
    std::size_t responses;
  } cases[] = {
      {"setting 6 off", 0, kGoal, "50", "", 1},
      {"no setting 6", -1, kGoal, "50", "", 1},
      {"a percentage above 100 is stored but not put on the task", 1, kGoal, "150", "", 1},
      {"a negative percentage likewise", 1, kGoal, "-20", "", 1},
      {"a comment without status", 1, kGoal, "", "later", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exec("DELETE FROM Settings; DELETE FROM StrategyGoalStatusReply; DELETE FROM StrategyGoalStatusResponse;");
    if (c.setting >= 0) SetSetting(6, c.setting == 1);
    const std::string task = WriteTask();
    const std::string before = ReadFile(task);
    EXPECT_TRUE(ProcessGoalStatusReply(kFrom, kDate, GoalReplyBody(kStrategy, c.goalId, c.status, c.comment)));
    EXPECT_EQ(ReadFile(task), before);
    EXPECT_EQ(Count("StrategyGoalStatusResponse"), c.responses);
  }
}

TEST_F(GoalStatusReplyTest, AFailingResponseInsertStoresNothingOfTheReplyAndASecondOfferStoresItWhole) {
  SetSetting(6, true);
  const std::string task = WriteTask();
  const std::string untouched = ReadFile(task);
  const std::string body = GoalReplyBody(kStrategy, kGoal, "50", "on track");
  Exec("CREATE TRIGGER NoResponses BEFORE INSERT ON StrategyGoalStatusResponse "
       "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_THROW(ProcessGoalStatusReply(kFrom, kDate, body), std::exception);
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 0u) << "a reply row alone would make the reply look stored";
  EXPECT_EQ(Count("StrategyGoalStatusResponse"), 0u);
  EXPECT_EQ(ReadFile(task), untouched) << "the task follows only what is stored";

  Exec("DROP TRIGGER NoResponses;");
  EXPECT_TRUE(ProcessGoalStatusReply(kFrom, kDate, body));
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 1u);
  EXPECT_EQ(Rows("SELECT PercentComplete FROM StrategyGoalStatusResponse"), (Table{{"50"}}));
  const std::string updated = ReadFile(task);
  EXPECT_NE(updated.find("PERCENT-COMPLETE:50\r\n"), std::string::npos) << updated;
  EXPECT_EQ(updated.find("on track"), updated.rfind("on track")) << "the comment is added to the task once";
}

}  // namespace
