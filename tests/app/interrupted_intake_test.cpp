// LvMAPI killed (SIGKILL) in the middle of command 5 with 50 survey replies
// and 2 goal status replies waiting, then run again: every reply ends up
// stored exactly once and the inbox holds nothing unprocessed. Also killed
// while the mail-access program it started is still fetching.
//
// To kill at an exact point, the test gives the database a trigger that
// keeps LvMAPI busy inside the insert that brings a table to a chosen number
// of rows; once the statement trace shows that insert, LvMAPI can get no
// further, and it is killed there. The trigger is dropped before the next
// run. Each case names where the kill lands.
#include <gtest/gtest.h>

#include <memory>

#include "platform/file_lock.h"
#include "reply_install.h"

namespace {

using testing_support::ReplyInstall;

constexpr int kSurveyReplies = 50;
constexpr int kGoalReplies = 2;
constexpr int kAnswersPerReply = 3;

struct KillPoint {
  const char* table;  // the table being written
  long rows;          // inside the insert that brings it to this many rows
};

struct Case {
  const char* what;
  std::vector<KillPoint> kills;  // one run killed per point, in turn
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }

class InterruptedIntake : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    m_install.PlaceSurveyReplies(kSurveyReplies);
    m_install.PlaceGoalReplies(kGoalReplies);
  }

  // Runs command 5 until it is inside the insert of `point`, and kills it.
  void RunAndKill(const KillPoint& point, int run) {
    const std::string table = point.table;
    const long before = m_install.Count(table);
    ASSERT_LT(before, point.rows) << "the kill point lies behind the rows already stored";
    testing_support::ExecSql(m_install.db(), "CREATE TABLE Stall (n INTEGER);"
                                             "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
                                             "WHERE n < 2000) INSERT INTO Stall SELECT n FROM c;"
                                             "CREATE TRIGGER StallHere AFTER INSERT ON " + table +
                                                 " WHEN (SELECT COUNT(*) FROM " + table + ") = " +
                                                 std::to_string(point.rows) +
                                                 " BEGIN SELECT COUNT(*) FROM Stall a, Stall b, Stall c, Stall d; END;");
    const std::string trace = m_dir.file("killed" + std::to_string(run) + ".sql");
    auto lvmapi = m_install.StartLvMAPI("5", trace);
    const std::string insert = "INSERT INTO " + table + "(";
    const auto inserts = static_cast<std::size_t>(point.rows - before);
    const bool reached = testing_support::WaitUntil([&] {
      return testing_support::CountLinesStartingWith(trace, insert) >= inserts || !lvmapi->Running();
    });
    ASSERT_TRUE(reached) << "LvMAPI never reached the kill point";
    ASSERT_TRUE(lvmapi->Running()) << "LvMAPI ended before the kill point: " << lvmapi->Wait().err;
    lvmapi->Kill();
    const auto killed = lvmapi->Wait();
    ASSERT_EQ(killed.signal, testing_support::kKilledSignal);
    testing_support::ExecSql(m_install.db(), "DROP TRIGGER StallHere; DROP TABLE Stall;");
    // Nothing of the interrupted reply is left, only whole earlier ones.
    EXPECT_EQ(m_install.HalfStoredProblems(), std::vector<std::string>{});
  }

  testing_support::ScratchDir m_dir;
  ReplyInstall m_install{m_dir.file("bin")};
};

TEST_P(InterruptedIntake, EveryReplyIsStoredExactlyOnceAfterTheRunIsRepeated) {
  int run = 0;
  for (const KillPoint& point : GetParam().kills) {
    SCOPED_TRACE(std::string("killed inside the insert bringing ") + point.table + " to " +
                 std::to_string(point.rows) + " rows");
    RunAndKill(point, ++run);
    if (HasFatalFailure()) return;
  }

  const auto rerun = m_install.RunLvMAPI("5");
  ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
  // The replies of the killed pass are offered again, every one of them
  // handed over and counted, those already stored recognised; a survey pass
  // that had ended before the kill has nothing left to offer.
  const bool killedInSurveyPass = std::string(GetParam().kills.back().table).starts_with("Survey");
  EXPECT_NE(m_install.RunLog().find("Number of survey responses read from file: " +
                                    std::to_string(killedInSurveyPass ? kSurveyReplies : 0) + "\r\n"),
            std::string::npos)
      << testing_support::Visible(m_install.RunLog());
  EXPECT_NE(m_install.RunLog().find("Number of goal responses read from file: 2\r\n"), std::string::npos);
  EXPECT_EQ(m_install.StoredOnceProblems(kSurveyReplies, kGoalReplies), std::vector<std::string>{});

  ASSERT_EQ(m_install.Acknowledge().exitCode, 0);
  EXPECT_EQ(m_install.Messages("Inbox"), 0u) << "replies left unprocessed";
  EXPECT_EQ(m_install.Messages("Processed"), static_cast<std::size_t>(kSurveyReplies + kGoalReplies));
  EXPECT_EQ(m_install.LeftoverExchangeFiles(), std::vector<std::string>{});

  // Nothing waits any more: a further run stores nothing.
  ASSERT_EQ(m_install.RunLvMAPI("5").exitCode, 0);
  EXPECT_EQ(m_install.StoredOnceProblems(kSurveyReplies, kGoalReplies), std::vector<std::string>{});
}

constexpr long kLastSurveyResponse = kSurveyReplies * kAnswersPerReply;

INSTANTIATE_TEST_SUITE_P(
    KillPoints, InterruptedIntake,
    ::testing::Values(
        Case{"BeforeTheFirstResponse", {{"SurveyResponse", 1}}},
        Case{"BetweenTwoResponsesOfAReply", {{"SurveyResponse", 2}}},
        Case{"BetweenTheLastResponseAndTheReplyRow", {{"SurveyReply", 20}}},
        Case{"BetweenTwoReplies", {{"SurveyResponse", 36 * kAnswersPerReply + 1}}},
        Case{"AtTheLastSurveyReply", {{"SurveyReply", kSurveyReplies}}},
        Case{"BetweenAGoalReplyRowAndItsResponse", {{"StrategyGoalStatusResponse", 1}}},
        Case{"TwiceInARowAtLaterPoints",
             {{"SurveyResponse", 5}, {"SurveyResponse", kLastSurveyResponse - 1}, {"StrategyGoalStatusReply", 2}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.what; });

// The mail-access program outlives LvMAPI and writes an exchange file no one
// reads; the next run offers its replies again.
TEST(InterruptedFetch, LvMAPIKilledWhileTheMailAccessProgramFetchesLosesNothing) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  install.PlaceSurveyReplies(kSurveyReplies);
  // The fetch waits for the intake lock, held here, until LvMAPI is dead.
  auto mailLock = std::make_unique<platform::FileLock>();
  ASSERT_EQ(mailLock->Acquire(install.bin() + "/LVEmailAccess.lock", std::chrono::milliseconds(0)),
            platform::FileLock::Result::Acquired);
  {
    auto lvmapi = install.StartLvMAPI("5", "");
    ASSERT_TRUE(testing_support::WaitUntil([&] {
      return install.MailLog().find("operation 4: fetching replies about \"Corvane Survey\"") != std::string::npos ||
             !lvmapi->Running();
    }));
    ASSERT_TRUE(lvmapi->Running()) << lvmapi->Wait().err;
    lvmapi->Kill();
    ASSERT_EQ(lvmapi->Wait().signal, testing_support::kKilledSignal);
  }
  mailLock.reset();
  // The fetch's own end, not that of the sending the replies answer.
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] { return install.MailLog().find(" reply(ies) offered") != std::string::npos; }))
      << install.MailLog();
  EXPECT_EQ(install.LeftoverExchangeFiles().size(), 1u) << "the file the killed run never read";

  const auto rerun = install.RunLvMAPI("5");
  ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_NE(install.RunLog().find("Number of survey responses read from file: 50\r\n"), std::string::npos);
  EXPECT_EQ(install.StoredOnceProblems(kSurveyReplies, 0), std::vector<std::string>{});
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(install.Messages("Inbox"), 0u) << "replies left unprocessed";
  EXPECT_EQ(install.Messages("Processed"), static_cast<std::size_t>(kSurveyReplies));
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
}

}  // namespace
