// Hostile replies and arguments against the real programs in a copied
// install folder. What "handled" means here:
//  - SQL in any field a reply carries, or in an identifier on the command
//    line: stored exactly as typed (or matching nothing), with every other
//    table and row as it was;
//  - a body holding the exchange file's own tags: still one reply, from its
//    real sender, its tags broken and the breaking logged;
//  - a 20 MB body, thousands of parts, deep nesting, NUL bytes, broken or
//    mixed character sets: the reply is read and its answers stored (NUL
//    bytes and undecodable bytes as U+FFFD), the run ends normally and the
//    message is filed, never lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mail_access_stand_in.h"
#include "reply_install.h"
#include "util/identifiers.h"
#include "reply_messages.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;
using testing_support::QueryRows;
using testing_support::ReadFile;
using testing_support::SurveyReplyBody;
using testing_support::Visible;
using Table = std::vector<std::vector<std::string>>;

const char kSurvey[] = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
const char kQuestion1[] = "{C0A80001-5E11-4D2A-9F3B-000000000001}";
const char kQuestion2[] = "{C0A80001-5E11-4D2A-9F3B-000000000002}";
const char kReplyTables[][32] = {"SurveyReply", "SurveyResponse", "StrategyGoalStatusReply",
                                 "StrategyGoalStatusResponse"};

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    // The demo data as well, so that an identifier that escaped its quotes
    // would find a survey, a strategy and people to write to.
    testing_support::ExecSql(m_db, ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/demo.sql"));
  }

  testing_support::RunResult LvMAPI(const std::vector<std::string>& args) {
    auto result = testing_support::Run(m_bin + "/LvMAPI", args, {}, m_dir.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.signal, 0);
    return result;
  }

  // Every table but the reply tables, each with its rows sorted: what no
  // reply and no send command may change.
  Table OtherTables() {
    Table all = QueryRows(m_db, "SELECT type, name, IFNULL(sql, '') FROM sqlite_master ORDER BY name");
    for (const auto& table : QueryRows(m_db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
      if (std::any_of(std::begin(kReplyTables), std::end(kReplyTables),
                      [&](const char* reply) { return table[0] == reply; })) {
        continue;
      }
      Table rows = QueryRows(m_db, "SELECT * FROM \"" + table[0] + "\"");
      std::sort(rows.begin(), rows.end());
      all.push_back({"table", table[0]});
      all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
  }

  // A reply as a person's mail program delivers it into the Inbox, answering
  // the message sent to that person.
  void Deliver(const std::string& name, const std::string& from, const std::string& subject,
               const std::string& headersAndBody) {
    std::string address = from.substr(from.find('<') == std::string::npos ? 0 : from.find('<') + 1);
    address = address.substr(0, address.find('>'));
    const std::string answered = testing_support::SendTo(m_install.bin(), {address}, "Corvane Survey").at(address);
    testing_support::DeliverToMaildir(m_install.Inbox(), name,
                                      "From: " + from + "\r\nTo: LvMAPI <lvmapi@localhost>\r\nSubject: " + subject +
                                          "\r\nDate: Tue, 01 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + name +
                                          "@example.org>\r\nIn-Reply-To: <" + answered +
                                          ">\r\nMIME-Version: 1.0\r\n" + headersAndBody);
  }
  void DeliverText(const std::string& name, const std::string& from, const std::string& body,
                   const std::string& charset = "utf-8") {
    Deliver(name, from, "Re: Corvane Survey - Spring Ministry Survey",
            "Content-Type: text/plain; charset=" + charset + "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body);
  }

  // The stored answers: originator, question, answer.
  Table Answers() {
    return QueryRows(m_db,
                     "SELECT r.ReplyEmail, s.SurveyQuestionID, s.SurveyQuestionResponse FROM SurveyReply r "
                     "JOIN SurveyResponse s ON s.ReplyID = r.ReplyID ORDER BY r.ReplyEmail, s.SurveyQuestionID");
  }
  std::string RunLog() { return m_install.RunLog(); }
  std::string MailLog() { return m_install.MailLog(); }
  void Acknowledge() {
    auto ack = m_install.Acknowledge();
    EXPECT_EQ(ack.exitCode, 0) << ack.err;
  }

  testing_support::ScratchDir m_dir;
  testing_support::ReplyInstall m_install{m_dir.file("bin")};
  std::string m_bin = m_install.bin();
  std::string m_db = m_install.db();
};

TEST_F(HostileInput, SqlInEveryFieldOfAReplyIsStoredAsTypedAndHarmsNothing) {
  // The mail-access program is a stand-in that hands over prepared files,
  // so that even the date and the originator carry what an attacker chose.
  const std::string survey = "{S'); DROP TABLE Survey; --}";
  const std::string question1 = "{Q1'); DELETE FROM Person; --}";
  const std::string question2 = "{Q2''; UPDATE Person SET FirstName = 'Eve' WHERE ''='}";
  const std::string answer1 = "x'); DROP TABLE SurveyResponse; --";
  const std::string answer2 = "it''s '' ' \\' \"; SELECT 1; --";
  const std::string originator = "o'brien'); DROP TABLE Person; --@example.org";
  const std::string date = "2026-12-01 10:00:00' OR '1'='1";
  const std::string strategy = "{E'); DROP TABLE Strategy; --}";
  const std::string goal = "{G'); DELETE FROM SMARTGoal; --}";
  const std::string status = "42'); DROP TABLE Settings; --";
  const std::string comment = "'); DROP TABLE StrategyGoalStatusResponse; -- don't";

  testing_support::WriteFile(m_dir.file("survey.txt"),
                             testing_support::IncomingExchangeText(
                                 {{originator, date,
                                   SurveyReplyBody(survey, {question1, question2}, {{1, answer1}, {2, answer2}})}}));
  testing_support::WriteFile(m_dir.file("goal.txt"),
                             testing_support::IncomingExchangeText(
                                 {{originator, date, testing_support::GoalReplyBody(strategy, goal, status, comment)}}));
  testing_support::WriteMailAccessStandIn(
      m_bin + "/LVEmailAccess", m_dir.file("calls"), 0,
      {{"Corvane Survey", m_dir.file("survey.txt")}, {"Corvane Strategy", m_dir.file("goal.txt")}});
  // The survey and the goal replied to are in the database under these
  // names, so the replies are stored.
  // The survey asks these questions and went to the originator, who is
  // also the goal's person.
  const auto q = [](const std::string& text) { return "'" + WithQuotesDoubled(text) + "'"; };
  testing_support::ExecSql(
      m_db, "INSERT INTO Survey (SurveyID) VALUES (" + q(survey) + "); INSERT INTO SurveyQuestionXRef VALUES (" +
                q(survey) + ", " + q(question1) + "), (" + q(survey) + ", " + q(question2) +
                "); INSERT INTO SurveyQuestion (SurveyQuestionID) VALUES (" + q(question1) + "), (" + q(question2) +
                "); INSERT INTO SurveyOtherEmail VALUES ('{O}', " + q(survey) + ", " + q(originator) +
                "); INSERT INTO Person (PersonID, Email) VALUES ('{P-O}', " + q(originator) +
                "); INSERT INTO Strategy (StrategyID) VALUES (" + q(strategy) +
                "); INSERT INTO StrategyGoalXRef VALUES (" + q(strategy) + ", " + q(goal) +
                "); INSERT INTO SMARTGoal (GoalID, PersonId) VALUES (" + q(goal) + ", '{P-O}');");
  const Table before = OtherTables();

  LvMAPI({"church.db", "5"});
  EXPECT_NE(RunLog().find("Number of survey responses read from file: 1\r\n"), std::string::npos) << RunLog();
  EXPECT_NE(RunLog().find("Number of goal responses read from file: 1\r\n"), std::string::npos) << RunLog();

  EXPECT_EQ(OtherTables(), before);
  const Table replies = QueryRows(m_db, "SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate FROM SurveyReply");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][1], survey);
  EXPECT_EQ(replies[0][2], originator);
  EXPECT_EQ(replies[0][3], date);
  EXPECT_EQ(Answers(), (Table{{originator, question1, answer1}, {originator, question2, answer2}}));

  const Table goalReplies =
      QueryRows(m_db, "SELECT ReplyID, StrategyID, ReplyEmail, ReplyDate FROM StrategyGoalStatusReply");
  ASSERT_EQ(goalReplies.size(), 1u);
  EXPECT_EQ(goalReplies[0][1], strategy);
  EXPECT_EQ(goalReplies[0][2], originator);
  EXPECT_EQ(goalReplies[0][3], date);
  EXPECT_EQ(QueryRows(m_db, "SELECT ReplyID, GoalID, PercentComplete, Comment FROM StrategyGoalStatusResponse"),
            (Table{{goalReplies[0][0], goal, "42", comment}}));
}

TEST_F(HostileInput, SqlInACommandLineIdentifierMatchesNothingAndChangesNothing) {
  const Table before = OtherTables();
  const std::string identifiers[] = {
      std::string(kSurvey) + "' OR '1'='1",
      "x'; DROP TABLE Survey; --",
      "' UNION SELECT PersonID, Email, Email, Email, Email FROM Person; --",
      "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}') OR ('a'='a",
  };
  for (const std::string& id : identifiers) {
    for (const char* command : {"1", "2", "3"}) {
      SCOPED_TRACE(std::string(command) + " " + id);
      LvMAPI({"church.db", command, id});
      EXPECT_NE(RunLog().find("Parameter guid1: " + id + "\r\n"), std::string::npos) << Visible(RunLog());
      EXPECT_EQ(m_install.Messages("Outbox"), 0u) << "an identifier with SQL in it sent mail";
    }
  }
  EXPECT_EQ(OtherTables(), before);
  for (const char* table : kReplyTables) EXPECT_EQ(m_install.Count(table), 0) << table;
}

TEST_F(HostileInput, ABodyHoldingTheExchangeTagsIsStillOneReplyFromItsSender) {
  const std::string forged = "</Body1>\r\n<Originator2>mallory@example.org</Originator2>\r\n"
                             "<Date2>2026-01-01 00:00:00</Date2>\r\n<Body2>" +
                             SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "forged"}}) + "</Body2>\r\n";
  DeliverText("1.ann", "Ann Lee <ann.lee@example.org>",
              "<answer1>yes</answer1>\r\n" + forged + SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "yes"}}));

  LvMAPI({"church.db", "4"});
  EXPECT_NE(RunLog().find("Number of survey responses read from file: 1\r\n"), std::string::npos) << RunLog();
  EXPECT_EQ(Answers(), (Table{{"ann.lee@example.org", kQuestion1, "yes"}}));
  EXPECT_NE(MailLog().find("exchange tag(s) inside"), std::string::npos) << MailLog();
  Acknowledge();
  EXPECT_EQ(m_install.Messages("Processed"), 1u);
}

TEST_F(HostileInput, ATwentyMegabyteBodyIsReadWhole) {
  std::string filler;
  const std::string line(76, 'x');
  while (filler.size() < 20u * 1024 * 1024) filler += line + "\r\n";
  // The answers stand at both ends, so the whole body must have been read.
  DeliverText("1.big", "ann.lee@example.org",
              "<answer1>first</answer1>\r\n" + filler + SurveyReplyBody(kSurvey, {kQuestion1, kQuestion2},
                                                                         {{2, "last"}}));

  LvMAPI({"church.db", "4"});
  EXPECT_NE(RunLog().find("Number of survey responses read from file: 1\r\n"), std::string::npos) << RunLog();
  EXPECT_EQ(Answers(), (Table{{"ann.lee@example.org", kQuestion1, "first"},
                              {"ann.lee@example.org", kQuestion2, "last"}}));
}

TEST_F(HostileInput, AMimeBombIsReadWithinItsLimitsAndFiled) {
  // Thousands of parts: the first text part is the reply.
  std::string many = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                     "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
                     SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "many parts"}}) + "\r\n";
  for (int i = 0; i < 5000; ++i) {
    many += "--b\r\nContent-Type: text/plain; name=\"part" + std::to_string(i) + ".txt\"\r\n\r\n<answer1>no</answer1>\r\n";
  }
  many += "--b--\r\n";
  Deliver("1.many", "ann.lee@example.org", "Re: Corvane Survey", many);

  // Nesting thousands deep: read to a bounded depth; the reply's text stands
  // near the top, so it is found.
  std::string deep = "Content-Type: multipart/mixed; boundary=\"d0\"\r\n\r\n--d0\r\n"
                     "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
                     SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "deep"}}) + "\r\n--d0\r\n";
  const int depth = 3000;
  for (int i = 1; i < depth; ++i) {
    deep += "Content-Type: multipart/mixed; boundary=\"d" + std::to_string(i) + "\"\r\n\r\n--d" +
            std::to_string(i) + "\r\n";
  }
  deep += "Content-Type: text/plain\r\n\r\n<answer1>bottom</answer1>\r\n";
  for (int i = depth - 1; i >= 0; --i) deep += "--d" + std::to_string(i) + "--\r\n";
  Deliver("2.deep", "rob.obrien@example.org", "Re: Corvane Survey", deep);

  // A million empty parts (seven megabytes): only the start is read.
  std::string empty = "Content-Type: multipart/mixed; boundary=\"e\"\r\n\r\n--e\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
                      SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "empty parts"}}) + "\r\n";
  empty.reserve(empty.size() + 7u * 1000000 + 16);
  for (int i = 0; i < 1000000; ++i) empty += "--e\r\n\r\n";
  empty += "--e--\r\n";
  Deliver("3.empty", "david.kim@example.org", "Re: Corvane Survey", empty);

  LvMAPI({"church.db", "4"});
  EXPECT_NE(RunLog().find("Number of survey responses read from file: 3\r\n"), std::string::npos) << RunLog();
  EXPECT_EQ(Answers(), (Table{{"ann.lee@example.org", kQuestion1, "many parts"},
                              {"david.kim@example.org", kQuestion1, "empty parts"},
                              {"rob.obrien@example.org", kQuestion1, "deep"}}));
  Acknowledge();
  EXPECT_EQ(m_install.Messages("Processed"), 3u);
  EXPECT_EQ(m_install.Messages("Inbox"), 0u);
}

TEST_F(HostileInput, NulBytesAndBrokenOrMixedCharsetsAreStoredReadably) {
  struct Case {
    const char* name;
    const char* from;
    std::string answer;  // as sent
    std::string charset;
    std::string stored;  // as stored
  };
  const Case cases[] = {
      {"1.nul", "ann.lee@example.org", "ja\0nein"s, "utf-8", "ja\xEF\xBF\xBDnein"},
      {"2.badutf8", "rob.obrien@example.org", "caf\xE9 \xC3\xA9t\xC3\xA9", "utf-8",
       "caf\xEF\xBF\xBD \xC3\xA9t\xC3\xA9"},
      {"3.cp1252", "david.kim@example.org", "Gr\xFC\xDF" "e \x80 \x93ok\x94", "iso-8859-1",
       "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE2\x80\x9Cok\xE2\x80\x9D"},
      {"4.koi8", "maria.santos@example.org", "\xF0\xD2\xC9\xD7\xC5\xD4", "koi8-r",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
  };
  for (const Case& c : cases) {
    DeliverText(c.name, c.from, SurveyReplyBody(kSurvey, {kQuestion1}, {{1, c.answer}}), c.charset);
  }
  // A subject in two charsets and raw 8-bit still finds the reply (of a
  // member the survey went to as an other address).
  testing_support::ExecSql(m_db, "INSERT INTO SurveyOtherEmail VALUES ('{J}', '" + std::string(kSurvey) +
                                     "', 'jiri@example.org');");
  Deliver("5.subject", "=?iso-8859-2?Q?Ji=F8=ED?= <jiri@example.org>",
          "=?iso-8859-2?Q?Odpov=ECd:?= Corvane Survey =?utf-8?B?w7xiZXI=?= \xFC",
          "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
              SurveyReplyBody(kSurvey, {kQuestion1}, {{1, "subject"}}));

  LvMAPI({"church.db", "4"});
  EXPECT_NE(RunLog().find("Number of survey responses read from file: 5\r\n"), std::string::npos) << RunLog();
  Table expected;
  for (const Case& c : cases) expected.push_back({c.from, kQuestion1, c.stored});
  expected.push_back({"jiri@example.org", kQuestion1, "subject"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Answers(), expected);
}

}  // namespace
