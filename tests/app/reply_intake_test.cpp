// Commands 4 and 5 run end to end from a copied install folder, with a
// stand-in mail-access program that hands over prepared replies per subject
// and records how it was called.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "mail_access_stand_in.h"
#include "reply_database.h"
#include "reply_messages.h"
#include "util/identifiers.h"
#include "test_support.h"

namespace {

using testing_support::GoalReplyBody;
using testing_support::IncomingExchangeText;
using testing_support::IncomingReply;
using testing_support::MailAccessCall;
using testing_support::ReadFile;
using testing_support::SurveyReplyBody;
using testing_support::Visible;
using testing_support::WriteFile;
using Table = std::vector<std::vector<std::string>>;

const std::string kSurvey = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
const std::string kQ1 = "{C0A80001-5E11-4D2A-9F3B-000000000001}";
const std::string kQ2 = "{C0A80001-5E11-4D2A-9F3B-000000000002}";
const std::string kQ3 = "{C0A80001-5E11-4D2A-9F3B-000000000003}";
const std::string kStrategy = "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}";
const std::string kGoal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";

class ReplyIntakeProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    // The stand-in replaces the real mail-access program in the copy; it
    // hands over the prepared file of the subject it is asked for.
    testing_support::WriteMailAccessStandIn(
        m_bin + "/LVEmailAccess", m_calls, 0,
        {{"Corvane Survey", Inbox("survey")}, {"Corvane Strategy", Inbox("strategy")}});
    testing_support::ExecSql(m_db, ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/schema.sql"));
    testing_support::AddRepliedToRows(m_db);
  }

  std::string Inbox(const std::string& kind) const { return m_dir.file("inbox-" + kind); }
  void Offer(const std::string& kind, const std::vector<IncomingReply>& replies) {
    WriteFile(Inbox(kind), IncomingExchangeText(replies));
  }
  void Setting(int number, int bitVal) {
    Exec("INSERT INTO Settings VALUES (" + std::to_string(number) + ", 'switch', '', " + std::to_string(bitVal) +
         ", 0);");
  }
  void Exec(const std::string& sql) { testing_support::ExecSql(m_db, sql); }
  Table Rows(const std::string& sql) { return testing_support::QueryRows(m_db, sql); }
  std::size_t Count(const std::string& table) { return Rows("SELECT * FROM " + table).size(); }

  testing_support::RunResult Start(const std::string& cmd) {
    return testing_support::Run(m_bin + "/LvMAPI", {"church.db", cmd}, {}, m_dir.path());
  }
  std::string Log() const { return ReadFile(m_bin + "/LvMAPI.log"); }
  // The log from the dispatch of commands 4 and 5 on.
  std::string IntakeLog() const {
    const std::string log = Log();
    const std::size_t at = log.find("Calling LVSAL_GetOutlookAutomationForEmailOn");
    return at == std::string::npos ? log : log.substr(at);
  }
  std::vector<MailAccessCall> Calls() const { return testing_support::RecordedMailAccessCalls(m_calls); }
  std::vector<std::string> ExchangeFilesLeft() const {
    std::vector<std::string> left;
    for (const std::string& name : testing_support::ListFolder(m_bin)) {
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") left.push_back(name);
    }
    return left;
  }
  // An exchange path beside the program, as the mail-access program got it.
  bool IsExchangePath(const std::string& path) const {
    const std::string bin = testing_support::NativePath(m_bin);
    return std::regex_match(path, std::regex(std::regex_replace(bin, std::regex(R"([.^$|()\[\]{}*+?\\])"),
                                                                 R"(\$&)") +
                                             R"([/\\][0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.tmp)"));
  }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_db = m_bin + "/church.db";
  std::string m_calls = m_dir.file("calls");
};

// What the settings lookup before the intake prints when it finds no rows.
const char kEmptySettingsTrace[] = "CBizObjectCollection::clear()CBizObjectCollection::clear()\n";

const char kBanner[] =
    "Calling LVSAL_GetOutlookAutomationForEmailOn\r\nPROCESS SURVEY REPLY EMAILS\r\n\r\n"
    "Inside LVML_ProcessSurveyReplyEmails\r\n";

TEST_F(ReplyIntakeProcess, Command4WithNothingWaitingCountsNoughtAndAsksForSurveyRepliesOnly) {
  Offer("strategy", {{"grace.mwangi@example.org", "today", GoalReplyBody(kStrategy, kGoal, "50", "")}});
  const auto result = Start("4");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(IntakeLog(), std::string(kBanner) + "Number of survey responses read from file: 0\r\n")
      << Visible(Log());
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0].args.size(), 4u);
  EXPECT_EQ(calls[0].args[0], "4");
  EXPECT_TRUE(IsExchangePath(calls[0].args[1])) << calls[0].args[1];
  EXPECT_EQ(calls[0].args[2], "Corvane Survey");
  EXPECT_EQ(calls[0].args[3], "0");
  EXPECT_FALSE(calls[0].hadExchange);  // the name is new: the program creates the file
  EXPECT_TRUE(ExchangeFilesLeft().empty());
  EXPECT_EQ(Count("StrategyGoalStatusReply"), 0u);
  EXPECT_EQ(result.out, kEmptySettingsTrace);
}

TEST_F(ReplyIntakeProcess, Command5HandsEveryReplyToItsParserInTurnAndCountsThem) {
  Offer("survey", {{"ann.lee@example.org", "2027-04-02 09:15", SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "true"}, {2, "yes"}})},
                   {"rob@example.org", "2027-04-02 10:00", SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{2, "no"}})}});
  Offer("strategy", {{"grace.mwangi@example.org", "2027-05-06", GoalReplyBody(kStrategy, kGoal, " 25 ", " On track ")}});
  const auto result = Start("5");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(IntakeLog(), std::string(kBanner) +
                             "Number of survey responses read from file: 2\r\n"
                             "Number of goal responses read from file: 1\r\n")
      << Visible(Log());

  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args.at(2), "Corvane Survey");
  EXPECT_EQ(calls[1].args.at(2), "Corvane Strategy");
  for (const MailAccessCall& call : calls) {
    EXPECT_EQ(call.args.at(0), "4");
    EXPECT_EQ(call.args.at(3), "0");
    EXPECT_TRUE(IsExchangePath(call.args.at(1))) << call.args.at(1);
  }
  EXPECT_NE(calls[0].args.at(1), calls[1].args.at(1));
  EXPECT_TRUE(ExchangeFilesLeft().empty());

  EXPECT_EQ(Rows("SELECT SurveyID, ReplyEmail, ReplyDate FROM SurveyReply ORDER BY rowid"),
            (Table{{kSurvey, "ann.lee@example.org", "2027-04-02 09:15"},
                   {kSurvey, "rob@example.org", "2027-04-02 10:00"}}));
  EXPECT_EQ(Rows("SELECT r.ReplyEmail, s.SurveyQuestionID, s.SurveyQuestionResponse FROM SurveyResponse s "
                 "JOIN SurveyReply r ON r.ReplyID = s.ReplyID ORDER BY s.rowid"),
            (Table{{"ann.lee@example.org", kQ1, "true"},
                   {"ann.lee@example.org", kQ2, "yes"},
                   {"rob@example.org", kQ2, "no"}}));
  EXPECT_EQ(Rows("SELECT r.StrategyID, r.ReplyEmail, r.ReplyDate, s.GoalID, s.PercentComplete, s.Comment "
                 "FROM StrategyGoalStatusResponse s JOIN StrategyGoalStatusReply r ON r.ReplyID = s.ReplyID"),
            (Table{{kStrategy, "grace.mwangi@example.org", "2027-05-06", kGoal, "25", "On track"}}));
}

TEST_F(ReplyIntakeProcess, TheAutomationSettingChoosesTheBannerAndTheFlagOfEveryFetch) {
  struct Case {
    int bitVal;  // -1: no row for setting 8
    std::string banner;
    std::string flag;
  } cases[] = {
      {-1, "PROCESS SURVEY REPLY EMAILS\r\n\r\n", "0"},
      {0, "PROCESS SURVEY REPLY EMAILS\r\n\r\n", "0"},
      {1, "PROCESS SURVEY REPLY EMAILS WITH AUTOMATION\r\n\r\n", "1"},
      {-1000, "PROCESS SURVEY REPLY EMAILS WITH AUTOMATION\r\n\r\n", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bitVal);
    Exec("DELETE FROM Settings;");
    std::filesystem::remove_all(m_calls);
    if (c.bitVal != -1) Setting(8, c.bitVal);
    EXPECT_EQ(Start("5").exitCode, 0);
    EXPECT_EQ(IntakeLog(), "Calling LVSAL_GetOutlookAutomationForEmailOn\r\n" + c.banner +
                               "Inside LVML_ProcessSurveyReplyEmails\r\n"
                               "Number of survey responses read from file: 0\r\n"
                               "Number of goal responses read from file: 0\r\n")
        << Visible(Log());
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args.at(3), c.flag);
    EXPECT_EQ(calls[1].args.at(3), c.flag);
  }
}

TEST_F(ReplyIntakeProcess, StoresWhatPeopleTypedAsTheyTypedIt) {
  Offer("survey",
        {
            // Quotes, a trailing blank (the form's padding, which goes) and a
            // line break in answers; answers in reverse order; the walk ends
            // at the missing third question tag.
            {"\"O'Hara, Pat\" <pat@example.org>", "Fri, 2 Apr 2027 09:15:00 +0200",
             SurveyReplyBody(kSurvey, {kQ1, kQ2, "", kQ3},
                             {{4, "ignored"}, {2, "it's ''fine'' "}, {1, "line one\r\nline two"}, {3, "lost"}})},
            // An answer beyond the question tags answers no question: left
            // for a person.
            {"kim@example.org", "2027-04-03", SurveyReplyBody(kSurvey, {}, {{1, "orphan"}})},
        });
  Offer("strategy", {{"grace.mwangi@example.org", "2027-05-06", GoalReplyBody(kStrategy, kGoal, "75% done", "don't panic ")}});
  ASSERT_EQ(Start("5").exitCode, 0);

  EXPECT_EQ(Rows("SELECT ReplyEmail, ReplyDate FROM SurveyReply ORDER BY rowid"),
            (Table{{"\"O'Hara, Pat\" <pat@example.org>", "Fri, 2 Apr 2027 09:15:00 +0200"}}));
  // The exchange file's line breaks arrive as the mail-access program wrote them.
  EXPECT_EQ(Rows("SELECT SurveyQuestionID, SurveyQuestionResponse FROM SurveyResponse ORDER BY SurveyQuestionID"),
            (Table{{kQ1, "line one\r\nline two"}, {kQ2, "it's ''fine''"}}));
  EXPECT_EQ(Rows("SELECT GoalID, PercentComplete, Comment FROM StrategyGoalStatusResponse"),
            (Table{{kGoal, "75", "don't panic"}}));
}

TEST_F(ReplyIntakeProcess, SqlInEveryFieldOfAReplyIsStoredVerbatimAndDoesNothingElse) {
  Exec("INSERT INTO Person (PersonID, FirstName) VALUES ('{P1}', 'Ann');");
  const Table schema = Rows("SELECT type, name, sql FROM sqlite_master ORDER BY name");
  const std::string attack = "x'); DELETE FROM Person; --";
  const std::string evenAttack = "y''); DROP TABLE SurveyReply; --";
  Offer("survey", {{attack + "@example.org", evenAttack,
                    SurveyReplyBody("{S" + attack + "}", {"{Q" + evenAttack + "}"}, {{1, attack}})}});
  Offer("strategy", {{evenAttack + "@example.org", attack,
                      GoalReplyBody("{S" + evenAttack + "}", "{G" + attack + "}", "9" + attack, evenAttack)}});
  testing_support::AddRepliedToRows(m_db, "{S" + attack + "}", "{G" + attack + "}", attack + "@example.org");
  // The question answered is one of the survey's; the goal is one of the
  // strategy's, and the sender its person.
  const auto q = [](const std::string& text) { return "'" + WithQuotesDoubled(text) + "'"; };
  Exec("INSERT INTO SurveyQuestionXRef VALUES (" + q("{S" + attack + "}") + ", " + q("{Q" + evenAttack + "}") +
       "); INSERT INTO SurveyQuestion (SurveyQuestionID) VALUES (" + q("{Q" + evenAttack + "}") +
       "); INSERT INTO Strategy (StrategyID) VALUES (" + q("{S" + evenAttack + "}") +
       "); INSERT INTO StrategyGoalXRef VALUES (" + q("{S" + evenAttack + "}") + ", " + q("{G" + attack + "}") +
       "); INSERT INTO Person (PersonID, Email) VALUES ('{P-E}', " + q(evenAttack + "@example.org") +
       "); UPDATE SMARTGoal SET PersonId = '{P-E}' WHERE GoalID = " + q("{G" + attack + "}") + ";");
  const Table persons = Rows("SELECT PersonID, FirstName FROM Person");
  ASSERT_EQ(Start("5").exitCode, 0);

  EXPECT_EQ(Rows("SELECT PersonID, FirstName FROM Person"), persons);
  EXPECT_EQ(Rows("SELECT type, name, sql FROM sqlite_master ORDER BY name"), schema);
  EXPECT_EQ(Rows("SELECT SurveyID, ReplyEmail, ReplyDate FROM SurveyReply"),
            (Table{{"{S" + attack + "}", attack + "@example.org", evenAttack}}));
  EXPECT_EQ(Rows("SELECT SurveyQuestionID, SurveyQuestionResponse FROM SurveyResponse"),
            (Table{{"{Q" + evenAttack + "}", attack}}));
  EXPECT_EQ(Rows("SELECT StrategyID, ReplyEmail, ReplyDate FROM StrategyGoalStatusReply"),
            (Table{{"{S" + evenAttack + "}", evenAttack + "@example.org", attack}}));
  EXPECT_EQ(Rows("SELECT GoalID, PercentComplete, Comment FROM StrategyGoalStatusResponse"),
            (Table{{"{G" + attack + "}", "9", evenAttack}}));
}

TEST_F(ReplyIntakeProcess, ANulByteInAnyFieldIsStoredAsAReplacementCharacterAndBlocksNothing) {
  const std::string nul(1, '\0');
  // The address as it arrives, its NUL byte replaced, is on the list.
  Exec("INSERT INTO SurveyOtherEmail VALUES ('{O-N}', '" + kSurvey + "', 'ann\xEF\xBF\xBD@example.org');");
  Offer("survey", {{"ann" + nul + "@example.org", "2027-04-02" + nul,
                    SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "ja" + nul + "nein"}, {2, nul}})},
                   {"bob@example.org", "2027-04-03", SurveyReplyBody(kSurvey, {kQ1}, {{1, "after"}})}});
  Offer("strategy", {{"grace.mwangi@example.org", "2027-05-06", GoalReplyBody(kStrategy, kGoal, "40", "half" + nul + "way")}});
  ASSERT_EQ(Start("5").exitCode, 0) << Visible(Log());

  const std::string mark = "\xEF\xBF\xBD";
  EXPECT_EQ(Rows("SELECT ReplyEmail, ReplyDate FROM SurveyReply ORDER BY rowid"),
            (Table{{"ann" + mark + "@example.org", "2027-04-02" + mark}, {"bob@example.org", "2027-04-03"}}));
  EXPECT_EQ(Rows("SELECT SurveyQuestionResponse FROM SurveyResponse ORDER BY rowid"),
            (Table{{"ja" + mark + "nein"}, {mark}, {"after"}}));
  EXPECT_EQ(Rows("SELECT PercentComplete, Comment FROM StrategyGoalStatusResponse"), (Table{{"40", "half" + mark + "way"}}));
}

TEST_F(ReplyIntakeProcess, EveryRecordHandedOverCountsAndAnIncompleteOneEndsThePass) {
  const std::string good = SurveyReplyBody(kSurvey, {kQ1}, {{1, "yes"}});
  std::string file = IncomingExchangeText({
      {"a@example.org", "d1", "no survey tag here: <answer1>yes</answer1>"},
      {"b@example.org", "d2", good},
  });
  // Reply 3 has no Date; reply 4 is never read.
  file += "<Originator3>c@example.org</Originator3><Body3>" + good + "</Body3>";
  file += "<Originator4>d@example.org</Originator4><Date4>d4</Date4><Body4>" + good + "</Body4>";
  WriteFile(Inbox("survey"), file);
  ASSERT_EQ(Start("4").exitCode, 0);
  EXPECT_EQ(IntakeLog(), std::string(kBanner) +
                             "Not stored, left for reading: the reply of a@example.org dated d1: no survey or strategy "
                             "given\r\nNumber of survey responses read from file: 2\r\n")
      << Visible(Log());
  EXPECT_EQ(Rows("SELECT ReplyEmail FROM SurveyReply"), (Table{{"b@example.org"}}));
}

TEST_F(ReplyIntakeProcess, RepliesOfferedAgainAreStoredOnce) {
  const IncomingReply survey{"ann@example.org", "2027-04-02", SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "a"}, {2, "b"}})};
  const IncomingReply goal{"grace.mwangi@example.org", "2027-05-06", GoalReplyBody(kStrategy, kGoal, "30", "ok")};
  // The same message twice in one fetch, and the whole fetch again in a
  // second run (a mail-access program restarted after a failure).
  Offer("survey", {survey, survey});
  Offer("strategy", {goal, goal});
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(Start("5").exitCode, 0);
    EXPECT_EQ(IntakeLog(), std::string(kBanner) +
                               "Number of survey responses read from file: 2\r\n"
                               "Number of goal responses read from file: 2\r\n")
        << Visible(Log());
    EXPECT_EQ(Count("SurveyReply"), 1u);
    EXPECT_EQ(Count("SurveyResponse"), 2u);
    EXPECT_EQ(Count("StrategyGoalStatusReply"), 1u);
    EXPECT_EQ(Count("StrategyGoalStatusResponse"), 1u);
  }
}

TEST_F(ReplyIntakeProcess, TracesTheStoredResponsesOnStandardOutput) {
  Offer("survey", {{"ann@example.org", "d", SurveyReplyBody(kSurvey, {kQ1, kQ2}, {{1, "a"}, {2, "b"}})}});
  const auto result = Start("4");
  ASSERT_EQ(result.exitCode, 0);
  const Table ids = Rows("SELECT ResponseID FROM SurveyResponse ORDER BY rowid");
  ASSERT_EQ(ids.size(), 2u);
  const std::string collectionTrace = "CBizObjectCollection::clear()CBizObjectCollection::add()"
                                      "CBizObjectCollection::add()CBizObjectCollection::clear()\n";
  EXPECT_EQ(result.out, kEmptySettingsTrace + std::string("CCoreValue::load() \nCCoreValue::save() \nResponseID = ") + ids[0][0] + "\nResponseID = " +
                            ids[1][0] + "\n" + collectionTrace +
                            "CBizObjectCollection::clear()CBizObjectCollection::add()"
                            "CBizObjectCollection::clear()\n");
}

TEST_F(ReplyIntakeProcess, UpdatesTheGoalsTaskBesideTheProgramWhereSettingSixIsOn) {
  Setting(6, 1);
  std::filesystem::create_directory(m_bin + "/Tasks");
  const std::string task = m_bin + "/Tasks/meal.ics";
  WriteFile(task, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\nUID:meal\r\n"
                  "DTSTAMP:20270101T080000Z\r\nDESCRIPTION:Community meal " + kGoal + "\r\nEND:VTODO\r\n"
                  "END:VCALENDAR\r\n");
  Offer("strategy", {{"grace.mwangi@example.org", "2027-05-06", GoalReplyBody(kStrategy, kGoal, "100", "We're done")}});
  ASSERT_EQ(Start("5").exitCode, 0);
  const std::string text = ReadFile(task);
  EXPECT_NE(text.find("PERCENT-COMPLETE:100\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("STATUS:COMPLETED\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("We're done"), std::string::npos) << text;
}

TEST_F(ReplyIntakeProcess, AMailAccessProgramThatCannotStartCountsNought) {
  std::filesystem::remove(m_bin + "/LVEmailAccess" + LVMAPI_EXE_SUFFIX);
  const auto result = testing_support::Run(m_bin + "/LvMAPI", {"church.db", "4"}, {{"PATH", m_dir.file("empty")}},
                                           m_dir.path());
  EXPECT_EQ(result.exitCode, 1) << "nothing was fetched";
  const std::string log = IntakeLog();
  EXPECT_EQ(log.substr(0, std::string(kBanner).size()), kBanner) << Visible(log);
  EXPECT_NE(log.find("\r\nThe mail-access program could not be started (LVEmailAccess" + std::string(LVMAPI_EXE_SUFFIX) +
                     "): "),
            std::string::npos)
      << Visible(log);
  const std::string last = "Number of survey responses read from file: 0\r\n";
  ASSERT_GE(log.size(), last.size());
  EXPECT_EQ(log.substr(log.size() - last.size()), last) << Visible(log);
}

TEST_F(ReplyIntakeProcess, ADatabaseFailureEndsTheRunAndKeepsTheFetchedReplies) {
  Exec("DROP TABLE SurveyResponse;");
  Offer("survey", {{"ann@example.org", "d", SurveyReplyBody(kSurvey, {kQ1}, {{1, "a"}})}});
  const auto result = Start("5");
  EXPECT_NE(result.exitCode, 0);
  EXPECT_EQ(IntakeLog(), kBanner) << Visible(Log());
  const auto left = ExchangeFilesLeft();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(ReadFile(m_bin + "/" + left[0]), ReadFile(Inbox("survey")));
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_NE(ReadFile(m_bin + "/LV_DB_Log.txt").find("no such table: SurveyResponse"), std::string::npos);
}

}  // namespace
