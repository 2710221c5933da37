// Command 1 run as a process from a copied install folder, with a stand-in
// mail-access program beside it that records every call and keeps a copy of
// the exchange file it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "mail_access_stand_in.h"
#include "strategy_test_text.h"
#include "test_support.h"
#include "util/text_files.h"

namespace {

using namespace strategy_test;
using testing_support::MailAccessCall;
using testing_support::ReadFile;
using testing_support::Visible;

constexpr const char kSubject[] = "Corvane Strategy: New Goal: ";
constexpr const char kCalling[] = "Calling LVML_SendStatusEmails\r\n";

class GoalNotificationProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::WriteMailAccessStandIn(m_bin + "/LVEmailAccess", m_record.path());
    testing_support::CreateDatabase(m_bin + "/church.db", true);
  }

  // Runs command 1 from another folder, with ISO dates and the statement trace.
  testing_support::RunResult Send(const std::vector<std::string>& ids) {
    std::vector<std::string> args = {"church.db", "1"};
    args.insert(args.end(), ids.begin(), ids.end());
    return testing_support::Run(m_bin + "/LvMAPI", args,
                                {{"LC_ALL", "C"}, {"TARNBASE_TRACE", m_trace}, {"PATH", "/usr/bin:/bin"}},
                                m_dir.path());
  }
  void Sql(const std::string& sql) { testing_support::ExecSql(m_bin + "/church.db", sql); }
  std::vector<MailAccessCall> Calls() const { return testing_support::RecordedMailAccessCalls(m_record.path()); }

  // What the run log holds after the dispatch line.
  std::string WorkflowLog() const {
    const std::string log = ReadFile(m_bin + "/LvMAPI.log");
    const std::size_t at = log.find(kCalling);
    return at == std::string::npos ? "<no dispatch line in: " + log + ">" : log.substr(at + sizeof kCalling - 1);
  }
  std::vector<std::string> Statements() const {
    std::vector<std::string> lines;
    std::string all = ReadFile(m_trace);
    for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(all.substr(start, end - start));
    return lines;
  }
  std::vector<std::string> LeftoverExchangeFiles() const {
    std::vector<std::string> names;
    for (const std::string& name : testing_support::ListFolder(m_bin))
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") names.push_back(name);
    return names;
  }

  testing_support::ScratchDir m_dir;
  testing_support::ScratchDir m_record;
  std::string m_bin = m_dir.file("bin");
  std::string m_trace = m_dir.file("statements.txt");
};

// The first goal of the demo strategy as its person receives it, in memory.
std::string DemoGoal1Body(const std::string& strategyId) {
  return ExpectedBodyHead("Launch a monthly community meal",
                          "Serve a free hot meal in the fellowship hall on the first Saturday of every month.",
                          "2027-03-31", "Forty guests from the neighbourhood at three meals in a row.") +
         "    Equipment\r\n"
         "        Kitchen equipment - Two roasting ovens and serving trays\r\n"
         "    Person\r\n"
         "        Volunteer cooks - Six people per meal\r\n"
         "    Building\r\n"
         "        Fellowship hall - Booked first Saturdays\r\n"
         "    Financial\r\n"
         "        Meal budget - $300 a month\r\n"
         "    Other\r\n"
         "\r\n\r\nPLANS\r\n"
         "\tMenu planning - Agree a simple seasonal menu with the cooks\r\n"
         "\tInvitations - Deliver flyers to 400 homes a week before each meal\r\n"
         "\r\n\r\n" +
         ExpectedInstructions() + ExpectedFooter(strategyId, kDemoGoal1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Normalised(std::string text) {
  NormalizeLineBreaks(text);
  return text;
}

TEST_F(GoalNotificationProcess, EveryGoalOfTheStrategyGoesToItsPersonInItsOwnExchangeFile) {
  const auto result = Send({kDemoStrategy});
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  const struct {
    const char* title;
    const char* recipient;
    const char* goalId;
  } expected[] = {
      {"Launch a monthly community meal",
       "<Recipient1>Maria Elena Santos</Recipient1>\r\n<Email1>maria.santos@example.org</Email1>\r\n", kDemoGoal1},
      {"Renovate the youth room",
       "<Recipient1>Robert James O'Brien</Recipient1>\r\n<Email1>rob.obrien@example.org</Email1>\r\n", kDemoGoal2},
      {"Start a neighbourhood prayer walk",
       "<Recipient1>Grace Wanjiru Mwangi</Recipient1>\r\n<Email1>grace.mwangi@example.org</Email1>\r\n", kDemoGoal3},
  };
  std::string expectedLog;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const MailAccessCall& call = calls[i];
    ASSERT_EQ(call.args.size(), 4u) << i;
    EXPECT_TRUE(testing_support::IsStandIn(call.program, m_bin + "/LVEmailAccess")) << "the copy beside the program";
    EXPECT_EQ(call.args[0], "1");
    const std::string folder = testing_support::NativePath(m_bin + "/");
    ASSERT_EQ(call.args[1].substr(0, folder.size()), folder) << "beside the program";
    EXPECT_TRUE(std::regex_match(call.args[1].substr(folder.size()),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.tmp")))
        << call.args[1];
    EXPECT_EQ(call.args[2], kSubject + std::string(expected[i].title));
    EXPECT_EQ(call.args[3], "0");
    ASSERT_TRUE(call.hadExchange) << i;
    // Each goal's notification is a mailing of its own, named by the goal.
    EXPECT_TRUE(StartsWith(call.exchange, "<Mailing>goal " + std::string(expected[i].goalId) + "</Mailing>\r\n" +
                                              expected[i].recipient + "<Body>"))
        << Visible(call.exchange);
    EXPECT_EQ(call.exchange.find("Recipient2"), std::string::npos) << "exactly one recipient";
    EXPECT_EQ(call.exchange.substr(call.exchange.size() - 7), "</Body>") << "nothing after the body";
    EXPECT_NE(call.exchange.find(Normalised(ExpectedFooter(kDemoStrategy, expected[i].goalId)) + "</Body>"),
              std::string::npos);
    expectedLog += "Creating output file: " + call.args[1] + "\r\n";
  }
  EXPECT_NE(calls[0].args[1], calls[1].args[1]);

  // The body's mixed line breaks reach the file through the normaliser: a
  // written CR LF comes out as CR CR LF, a written LF CR as CR LF.
  const std::string mailing = "<Mailing>goal " + std::string(kDemoGoal1) + "</Mailing>\r\n";
  EXPECT_EQ(Visible(calls[0].exchange), Visible(mailing + expected[0].recipient +
                                                ("<Body>" + Normalised(DemoGoal1Body(kDemoStrategy))) + "</Body>"));
  EXPECT_TRUE(StartsWith(calls[0].exchange,
                         mailing + "<Recipient1>Maria Elena Santos</Recipient1>\r\n<Email1>maria.santos@example.org</Email1>\r\n"
                         "<Body>Lumenvale Goal Notification\r\r\n\r\nThis email was sent by Lumenvale, to let you "
                         "know you have been assigned responsibility for the following strategic goal:\r\n\r\n"
                         "TITLE:          Launch a monthly community meal\r\r\n\r\nDESCRIPTION:    "));

  EXPECT_EQ(WorkflowLog(), expectedLog);
  EXPECT_TRUE(LeftoverExchangeFiles().empty());
}

TEST_F(GoalNotificationProcess, SendsTheFiveStrategyQueriesLoadsTheCatalogsTwiceAndEachPersonOnce) {
  const auto result = Send({kDemoStrategy});
  ASSERT_EQ(result.exitCode, 0) << result.err;

  // The catalogs are loaded once on their own and once more with the
  // strategy; each person is looked up once, with the goal.
  std::vector<std::string> expected = {kPlanCatalogStatement, kResourceCatalogStatement};
  for (const std::string& statement : DemoModelLoadStatements()) expected.push_back(statement);
  EXPECT_EQ(Statements(), expected);

  // Only the catalog loads trace to standard output, once per load.
  std::size_t headings = 0;
  for (std::size_t at = 0; (at = result.out.find("CCoreValue::load() \n", at)) != std::string::npos; ++at) ++headings;
  EXPECT_EQ(headings, 4u) << result.out;
}

TEST_F(GoalNotificationProcess, AGoalFilterSelectsOneGoalWhateverItsBracesAndCase) {
  // This goal is stored without braces, in upper case.
  const std::string bare = "F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002";
  for (const char* table : {"SMARTGoal", "StrategyGoalXRef", "SMARTGoalResourceXref", "SMARTGoalPlanXref"})
    Sql(std::string("UPDATE ") + table + " SET GoalID = '" + bare + "' WHERE GoalID = '" + kDemoGoal2 + "';");
  Sql("UPDATE SMARTGoal SET GoalTitle = 'Renovate the \"youth\" room' WHERE GoalID = '" + bare + "';");

  const auto result = Send({kDemoStrategy, "{f1000001-aaaa-4bbb-8ccc-ddddeeee0002}"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[2], "Corvane Strategy: New Goal: Renovate the \"youth\" room");
  EXPECT_TRUE(StartsWith(calls[0].exchange, "<Mailing>goal {" + bare + "}</Mailing>\r\n"))
      << "the mailing is named in registry form";
  EXPECT_NE(calls[0].exchange.find("<Email1>rob.obrien@example.org</Email1>"), std::string::npos);
  EXPECT_NE(calls[0].exchange.find("    Financial\r\r\n        Renovation fund - $4,500 from the building fund\r\r\n"),
            std::string::npos)
      << Visible(calls[0].exchange);
  EXPECT_NE(calls[0].exchange.find("\tWork days - Two Saturday work days for painting and lighting\r\r\n"),
            std::string::npos);
  EXPECT_NE(calls[0].exchange.find(Normalised(ExpectedFooter(kDemoStrategy, bare)) + "</Body>"), std::string::npos)
      << "the footer carries the goal's identifier as stored";
  EXPECT_EQ(WorkflowLog(), "Creating output file: " + calls[0].args[1] + "\r\n");
}

TEST_F(GoalNotificationProcess, AFilterOrAStrategyThatMatchesNothingSendsNothing) {
  auto result = Send({kDemoStrategy, "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0009}"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(WorkflowLog(), "");

  result = Send({"{E2F3A4B5-0000-0000-0000-000000000000}"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(WorkflowLog(), "");
  EXPECT_TRUE(LeftoverExchangeFiles().empty());
}

TEST_F(GoalNotificationProcess, GoalsWithoutAPersonAreSkippedSilentlyAndAPersonWithoutAddressIsStillSent) {
  Sql("UPDATE SMARTGoal SET PersonId = '{NO-SUCH-PERSON}' WHERE GoalID = '" + std::string(kDemoGoal1) + "';" +
      "UPDATE SMARTGoal SET PersonId = '' WHERE GoalID = '" + kDemoGoal2 + "';" +
      "UPDATE Person SET Email = '' WHERE PersonID = '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B05}';");
  const auto result = Send({kDemoStrategy});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u) << "an empty person identifier must not reach whoever comes first";
  EXPECT_EQ(calls[0].args[2], "Corvane Strategy: New Goal: Start a neighbourhood prayer walk");
  EXPECT_TRUE(StartsWith(calls[0].exchange, "<Mailing>goal " + std::string(kDemoGoal3) +
                                                "</Mailing>\r\n<Recipient1>Grace Wanjiru Mwangi</Recipient1>\r\n"
                                                "<Email1></Email1>\r\n<Body>Lumenvale "))
      << Visible(calls[0].exchange);
  EXPECT_EQ(WorkflowLog(), "Creating output file: " + calls[0].args[1] + "\r\n");
}

TEST_F(GoalNotificationProcess, TheFooterCarriesTheStrategyIdentifierAsTypedAndBadDueDatesSaySo) {
  // A database that compares identifiers without regard to case finds the
  // strategy under its lower-case spelling.
  Sql("ALTER TABLE Strategy RENAME TO OldStrategy;"
      "CREATE TABLE Strategy (StrategyID TEXT COLLATE NOCASE, StrategyTitle TEXT, StrategyDesc TEXT);"
      "INSERT INTO Strategy SELECT * FROM OldStrategy;"
      "ALTER TABLE StrategyGoalXRef RENAME TO OldStrategyGoalXRef;"
      "CREATE TABLE StrategyGoalXRef (StrategyID TEXT COLLATE NOCASE, GoalID TEXT);"
      "INSERT INTO StrategyGoalXRef SELECT * FROM OldStrategyGoalXRef;"
      "UPDATE SMARTGoal SET DueDate = '' WHERE GoalID = '" +
      std::string(kDemoGoal1) + "';");
  const std::string typed = "{e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7}";
  const auto result = Send({typed, kDemoGoal1});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].exchange.find("\r\r\n\r\nDUE DATE: Invalid DateTime\r\r\n\r\nSUCCESS CRITERIA:  "),
            std::string::npos)
      << Visible(calls[0].exchange);
  EXPECT_NE(calls[0].exchange.find(Normalised(ExpectedFooter(typed, kDemoGoal1)) + "</Body>"), std::string::npos)
      << Visible(calls[0].exchange);
}

TEST_F(GoalNotificationProcess, WithoutTheMailAccessProgramEveryGoalIsLoggedAndNoFileIsLeft) {
  std::filesystem::remove(m_bin + "/LVEmailAccess" + LVMAPI_EXE_SUFFIX);
  const auto result = Send({kDemoStrategy});
  ASSERT_EQ(result.exitCode, 1) << "nothing was sent: " << result.err;
  EXPECT_TRUE(Calls().empty());
  const std::string log = WorkflowLog();
  const std::regex line(
      "Creating output file: [^\r]+\\.tmp\r\nThe mail-access program could not be started "
      "\\(LVEmailAccess[^)]*\\): [^\r]+\r\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()), 3) << log;
  EXPECT_TRUE(LeftoverExchangeFiles().empty());
}

TEST_F(GoalNotificationProcess, ADatabaseFailureEndsTheRunWithTheLogsWrittenAndNothingSent) {
  Sql("DROP TABLE SMARTGoalPlanXref;");
  const auto result = Send({kDemoStrategy});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(WorkflowLog(), "") << "the run log is written up to the failure";
  EXPECT_NE(ReadFile(m_bin + "/LV_DB_Log.txt").find("SMARTGoalPlanXref"), std::string::npos);
}

}  // namespace
