// Survey replies turned into SurveyReply and SurveyResponse rows.
#include "surveys/survey_reply.h"

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
using testing_support::CoutCapture;
using testing_support::SurveyAnswer;
using testing_support::SurveyReplyBody;
using Table = std::vector<std::vector<std::string>>;

const std::string kSurvey = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
const std::string kQ1 = "{C0A80001-5E11-4D2A-9F3B-000000000001}";
const std::string kQ2 = "{C0A80001-5E11-4D2A-9F3B-000000000002}";
const std::string kQ3 = "{C0A80001-5E11-4D2A-9F3B-000000000003}";
const std::string kFrom = "ann.lee@example.org";
const std::string kDate = "2027-04-02 09:15:00";

class SurveyReplyTest : public testing_support::ReplyDatabaseTest {
 protected:
  void SetUp() override {
    ReplyDatabaseTest::SetUp();
    testing_support::AddRepliedToRows(m_dbPath);
  }
  // ProcessSurveyReply with its standard output kept apart.
  bool Process(const std::string& originator, const std::string& date, const std::string& body) {
    CoutCapture capture;
    const bool result = ProcessSurveyReply(originator, date, body);
    m_stdout = capture.Text();
    return result;
  }
  Table Replies() { return Rows("SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate FROM SurveyReply ORDER BY rowid"); }
  // Question and answer of every response, in question order.
  Table Answers() {
    return Rows("SELECT SurveyQuestionID, SurveyQuestionResponse FROM SurveyResponse ORDER BY SurveyQuestionID");
  }
  std::size_t Count(const std::string& table) { return Rows("SELECT * FROM " + table).size(); }

  std::string m_stdout;
};

TEST_F(SurveyReplyTest, StoresEveryAnsweredQuestionAndThenTheReplyUnderNewIdentifiers) {
  const std::string body = SurveyReplyBody(kSurvey, {kQ1, kQ2, kQ3}, {{1, "true"}, {2, "   yes"}, {3, "7  "}});
  ASSERT_TRUE(Process(kFrom, kDate, body));

  const Table replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_TRUE(IsNewGuid(replies[0][0])) << replies[0][0];
  EXPECT_EQ(replies[0][1], kSurvey);
  EXPECT_EQ(replies[0][2], kFrom);
  EXPECT_EQ(replies[0][3], kDate);
  // The blanks around an answer are the form's padding and go.
  EXPECT_EQ(Answers(), (Table{{kQ1, "true"}, {kQ2, "yes"}, {kQ3, "7"}}));

  const Table links = Rows("SELECT ResponseID, ReplyID FROM SurveyResponse");
  ASSERT_EQ(links.size(), 3u);
  for (const auto& link : links) {
    EXPECT_TRUE(IsNewGuid(link[0])) << link[0];
    EXPECT_EQ(link[1], replies[0][0]);
  }
  EXPECT_NE(links[0][0], links[1][0]);
  EXPECT_NE(links[1][0], links[2][0]);
}

TEST_F(SurveyReplyTest, SendsTheLoadsThenTheResponsesThenTheReplyRow) {
  const std::string body = SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "O'Brien"}, {2, "no"}});
  ASSERT_TRUE(Process(kFrom, kDate, body));
  const std::string replyId = Replies().at(0).at(0);
  std::vector<std::string> statements = TakeStatements();
  ASSERT_EQ(statements.size(), 9u);
  EXPECT_EQ(statements[0], "SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply");
  EXPECT_EQ(statements[1], "SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse");
  // The survey must still be there before anything is stored for it, the
  // answers must be to its questions, and the sender on its list.
  EXPECT_EQ(statements[2], "SELECT SurveyID FROM Survey");
  EXPECT_NE(statements[3].find("FROM Survey survey INNER JOIN SurveyQuestionXRef"), std::string::npos) << statements[3];
  EXPECT_NE(statements[4].find("FROM SurveyPersonXRef xref INNER JOIN Person"), std::string::npos) << statements[4];
  EXPECT_NE(statements[5].find("FROM SurveyOtherEmail WHERE"), std::string::npos) << statements[5];
  statements.erase(statements.begin() + 3, statements.begin() + 6);
  const std::regex response(
      R"(INSERT INTO SurveyResponse\(ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  \)VALUES \('\{[0-9A-F-]{36}\}', ')" +
      std::regex_replace(replyId, std::regex(R"([{}])"), R"(\$&)") + "', '(.*)', '(.*)'\\)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(statements[3], m, response)) << statements[3];
  EXPECT_EQ(m[1], kQ1);
  EXPECT_EQ(m[2], "O''Brien");
  ASSERT_TRUE(std::regex_match(statements[4], m, response)) << statements[4];
  EXPECT_EQ(m[2], "no");
  EXPECT_EQ(statements[5], "INSERT INTO SurveyReply(ReplyID, SurveyID, ReplyEmail, ReplyDate  )VALUES ('" + replyId +
                               "', '" + kSurvey + "', '" + kFrom + "', '" + kDate + "')");
}

TEST_F(SurveyReplyTest, AnswersAreMatchedToQuestionsByTheirNumberOnly) {
  // Answers in reverse order in the message, and one answered twice: the
  // first occurrence of each tag counts.
  const std::string body =
      SurveyReplyBody(kSurvey, {kQ1, kQ2, kQ3}, {{3, "c"}, {2, "b"}, {1, "a"}, {2, "second b"}});
  ASSERT_TRUE(Process(kFrom, kDate, body));
  EXPECT_EQ(Answers(), (Table{{kQ1, "a"}, {kQ2, "b"}, {kQ3, "c"}}));
}

TEST_F(SurveyReplyTest, WhichAnswersBecomeRows) {
  struct Case {
    const char* what;
    std::vector<std::string> questionIds;
    std::vector<SurveyAnswer> answers;
    Table expected;
    std::size_t replyRows;
  } cases[] = {
      {"unanswered questions get no row",
       {kQ1, kQ2, kQ3},
       {{1, "a"}, {2, "  "}, {3, "c"}},
       {{kQ1, "a"}, {kQ3, "c"}},
       1},
      {"the walk ends at the first missing question tag",
       {kQ1, kQ2, "", kQ3},
       {{1, "a"}, {2, "b"}, {3, "three"}, {4, "four"}},
       {{kQ1, "a"}, {kQ2, "b"}},
       1},
      {"an answer beyond the questions is left for a person",
       {},
       {{1, "orphan"}},
       {},
       0},
      {"the sent survey quoted unchanged stores nothing",
       {kQ1, kQ2},
       {{1, "  "}, {2, "  "}},
       {},
       0},
      {"a message without answer tags stores nothing", {kQ1, kQ2}, {}, {}, 0},
      {"answers typed under the quoted blank form are found",
       {kQ1, kQ2, kQ3},
       {{1, "  "}, {1, "true"}, {2, " \t "}, {2, "  "}, {2, "b"}, {3, "\r\n"}, {3, " "}},
       {{kQ1, "true"}, {kQ2, "b"}},
       1},
      {"a filled form wins over a later pair", {kQ1}, {{1, "first"}, {1, "second"}}, {{kQ1, "first"}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Exec("DELETE FROM SurveyReply; DELETE FROM SurveyResponse;");
    EXPECT_EQ(Process(kFrom, kDate, SurveyReplyBody(kSurvey, c.questionIds, c.answers)), c.replyRows == 1);
    EXPECT_EQ(Answers(), c.expected);
    EXPECT_EQ(Count("SurveyReply"), c.replyRows);
  }
}

TEST_F(SurveyReplyTest, WithoutASurveyIdentifierNothingIsReadOrStored) {
  const std::string answers = "<answer1>yes</answer1><QuestionID1>" + kQ1 + "</QuestionID1>";
  for (const std::string& body : {answers, answers + "<SurveyID>   </SurveyID>",
                                 answers + "<surveyid>" + kSurvey + "</surveyid>",
                                 answers + "<SurveyID>" + kSurvey}) {
    SCOPED_TRACE(body);
    EXPECT_FALSE(Process(kFrom, kDate, body));
    EXPECT_TRUE(TakeStatements().empty());
    EXPECT_EQ(m_stdout, "");
  }
  EXPECT_EQ(Count("SurveyReply"), 0u);
  EXPECT_EQ(Count("SurveyResponse"), 0u);
}

TEST_F(SurveyReplyTest, TheFirstSurveyTagOfAQuotedConversationCounts) {
  const std::string body = SurveyReplyBody(kSurvey, {kQ1}, {{1, "yes"}}) + "\r\n> earlier message\r\n" +
                           SurveyReplyBody("{OTHER}", {kQ2}, {{1, "no"}});
  ASSERT_TRUE(Process(kFrom, kDate, body));
  EXPECT_EQ(Replies().at(0).at(1), kSurvey);
  EXPECT_EQ(Answers(), (Table{{kQ1, "yes"}}));
}

TEST_F(SurveyReplyTest, AnswersAreStoredExactlyAsTyped) {
  const std::string typed[] = {
      "O'Brien",          "two '' quotes", "three ''' quotes", "'", "line one  \r\nline two", "tab\there",
      "<b>not html</b>", "b",             "99%",
  };
  std::vector<std::string> questionIds;
  std::vector<SurveyAnswer> answers;
  for (std::size_t i = 0; i < std::size(typed); ++i) {
    questionIds.push_back("{C0A80001-5E11-4D2A-9F3B-00000000000" + std::to_string(i + 1) + "}");
    answers.push_back({static_cast<int>(i + 1), typed[i]});
  }
  ASSERT_TRUE(Process(kFrom, kDate, SurveyReplyBody(kSurvey, questionIds, answers)));
  const Table stored = Rows("SELECT SurveyQuestionID, SurveyQuestionResponse FROM SurveyResponse");
  ASSERT_EQ(stored.size(), std::size(typed));
  for (const auto& row : stored) {
    const std::size_t n = std::stoul(row[0].substr(row[0].size() - 2, 1));
    EXPECT_EQ(row[1], typed[n - 1]) << row[0];
  }
}

TEST_F(SurveyReplyTest, SqlInEveryFieldIsStoredVerbatimAndDoesNothingElse) {
  Exec("INSERT INTO Person (PersonID, FirstName) VALUES ('{P1}', 'Ann');");
  const Table persons = Rows("SELECT PersonID, FirstName FROM Person");
  const std::string attacks[] = {
      "x'); DROP TABLE Person; --",
      "' OR '1'='1",
      "''); DELETE FROM Person; --",
      "'''; UPDATE Person SET FirstName = 'Eve'; --",
      "a\\'); DROP TABLE SurveyReply; --",
  };
  const std::string surveyId = "{S'); DROP TABLE Survey; --}";
  const std::string originator = "o'hara''); DELETE FROM Person; --@example.org";
  const std::string date = "2027-04-02'); DROP TABLE SurveyResponse; --";
  std::vector<std::string> questionIds;
  std::vector<SurveyAnswer> answers;
  for (std::size_t i = 0; i < std::size(attacks); ++i) {
    questionIds.push_back("{Q" + std::to_string(i + 1) + "'" + attacks[i] + "}");
    answers.push_back({static_cast<int>(i + 1), attacks[i]});
  }
  const std::string schemaQuery = "SELECT type, name, sql FROM sqlite_master ORDER BY name";
  const Table schema = Rows(schemaQuery);
  testing_support::AddRepliedToRows(m_dbPath, surveyId, "{G}", originator);
  for (const std::string& id : questionIds) {
    Exec("INSERT INTO SurveyQuestionXRef VALUES ('" + WithQuotesDoubled(surveyId) + "', '" + WithQuotesDoubled(id) +
         "'); INSERT INTO SurveyQuestion (SurveyQuestionID) VALUES ('" + WithQuotesDoubled(id) + "');");
  }
  ASSERT_TRUE(Process(originator, date, SurveyReplyBody(surveyId, questionIds, answers)));

  EXPECT_EQ(Rows("SELECT PersonID, FirstName FROM Person"), persons);
  EXPECT_EQ(Rows(schemaQuery), schema);
  const Table replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][1], surveyId);
  EXPECT_EQ(replies[0][2], originator);
  EXPECT_EQ(replies[0][3], date);
  Table expected;
  for (std::size_t i = 0; i < std::size(attacks); ++i) expected.push_back({questionIds[i], attacks[i]});
  EXPECT_EQ(Rows("SELECT SurveyQuestionID, SurveyQuestionResponse FROM SurveyResponse ORDER BY rowid"), expected);
}

TEST_F(SurveyReplyTest, TracesTheResponsesAndBothCollectionsOnStandardOutput) {
  Exec("INSERT INTO SurveyReply VALUES ('{R0}', '{OLD}', 'x@example.org', 'then'), ('{R1}', '{OLD}', 'y', 'z');"
       "INSERT INTO SurveyResponse VALUES ('{OLD-RESPONSE}', '{R0}', '{Q0}', 'old');");
  ASSERT_TRUE(Process(kFrom, kDate, SurveyReplyBody(kSurvey, {kQ1}, {{1, "yes"}})));
  const std::string newResponse = Rows("SELECT ResponseID FROM SurveyResponse WHERE SurveyQuestionID = '" + kQ1 + "'")
                                      .at(0)
                                      .at(0);
  EXPECT_EQ(m_stdout,
            "CCoreValue::load() \n"
            "CCoreValue::save() \n"
            "ResponseID = {OLD-RESPONSE}\n"
            "ResponseID = " + newResponse + "\n"
            // The responses' collection goes first, then the replies' with its two rows.
            "CBizObjectCollection::clear()CBizObjectCollection::load()CBizObjectCollection::add()"
            "CBizObjectCollection::clear()\n"
            "CBizObjectCollection::clear()CBizObjectCollection::load()CBizObjectCollection::load()"
            "CBizObjectCollection::add()CBizObjectCollection::clear()\n");
}

TEST_F(SurveyReplyTest, AReplyAlreadyStoredIsNotStoredAgain) {
  const std::string body = SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "yes"}, {2, "no"}});
  ASSERT_TRUE(Process(kFrom, kDate, body));
  TakeStatements();

  struct Case {
    const char* what;
    std::string surveyId, originator, date;
    bool stored;
  } cases[] = {
      {"the same message", kSurvey, kFrom, kDate, false},
      {"the survey spelled without braces in lower case", "6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2", kFrom, kDate,
       false},
      {"another date", kSurvey, kFrom, "2027-04-03 10:00:00", true},
      {"another originator", kSurvey, "rob@example.org", kDate, true},
      {"another survey", "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B3}", kFrom, kDate, true},
      {"the originator's domain in other letter case", kSurvey, "ann.lee@Example.ORG", kDate, true},
  };
  std::size_t replies = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Process(c.originator, c.date, SurveyReplyBody(c.surveyId, {kQ1, kQ2}, {{1, "yes"}, {2, "no"}})),
              c.stored);
    if (c.stored) ++replies;
    EXPECT_EQ(Count("SurveyReply"), replies);
    EXPECT_EQ(Count("SurveyResponse"), 2 * replies);
    const std::vector<std::string> statements = TakeStatements();
    // A duplicate is recognised after the two loads and the survey's
    // questions, before anything is written.
    if (!c.stored) {
      EXPECT_EQ(statements.size(), 4u);
    }
  }
}

TEST_F(SurveyReplyTest, RecognisesAStoredReplyWhoseTextsHoldQuotesAndLineBreaks) {
  const std::string originator = "\"O''Hara, Pat\" <pat'o@example.org>";
  const std::string date = "Fri, 2 Apr 2027\n09:15";
  const std::string body = SurveyReplyBody(kSurvey, {kQ1}, {{1, "yes"}});
  Exec("INSERT INTO SurveyOtherEmail VALUES ('{O1}', '" + kSurvey + "', 'pat''o@example.org');");
  ASSERT_TRUE(Process(originator, date, body));
  EXPECT_EQ(Replies().at(0).at(2), originator);
  EXPECT_FALSE(Process(originator, date, body));
  EXPECT_EQ(Count("SurveyReply"), 1u);
}

TEST_F(SurveyReplyTest, AFailingReplyInsertStoresNothingOfTheReplyAndASecondOfferStoresItWhole) {
  const std::string body = SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "a"}, {2, "b"}});
  Exec("CREATE TRIGGER NoReplies BEFORE INSERT ON SurveyReply BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_THROW(Process(kFrom, kDate, body), std::exception);
  EXPECT_EQ(Count("SurveyReply"), 0u);
  EXPECT_EQ(Answers(), Table{}) << "responses without their reply row would be stored again";

  Exec("DROP TRIGGER NoReplies;");
  EXPECT_TRUE(Process(kFrom, kDate, body));
  EXPECT_EQ(Count("SurveyReply"), 1u);
  EXPECT_EQ(Answers(), (Table{{kQ1, "a"}, {kQ2, "b"}}));
}

TEST_F(SurveyReplyTest, AMissingTableThrowsBeforeAnythingIsStored) {
  Exec("DROP TABLE SurveyResponse;");
  EXPECT_THROW(Process(kFrom, kDate, SurveyReplyBody(kSurvey, {kQ1}, {{1, "a"}})), std::exception);
  EXPECT_EQ(Count("SurveyReply"), 0u);
}

}  // namespace
