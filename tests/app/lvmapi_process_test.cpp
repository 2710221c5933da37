// LvMAPI run as a process from a copied install folder, as the main
// application starts it.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::Visible;

class LvMAPIProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::CreateDatabase(m_bin + "/church.db", true);
  }

  // Runs from another folder than the install folder: the program must find
  // its files beside itself, not in the current folder.
  testing_support::RunResult Start(const std::vector<std::string>& args) {
    return testing_support::Run(m_program, args, {}, m_dir.path());
  }
  std::string Log() const { return ReadFile(m_bin + "/LvMAPI.log"); }

  std::string Header(const std::string& database, const std::string& cmd, const std::string& guid1 = "",
                     const std::string& guid2 = "") const {
    return "Entering LvMAPI.exe\r\nParameter pgmPath: " + m_program + "\r\nParameter database: " + database +
           "\r\nParameter cmd: " + cmd + "\r\nParameter guid1: " + guid1 + "\r\nParameter guid2: " + guid2 +
           "\r\nSetting database path: " + testing_support::NativePath(m_bin + "/" + database) + "\r\n";
  }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_program = m_bin + "/LvMAPI";
};

// Arguments no job can run on are bad arguments for the caller (64, the usage
// on standard error); the run log says which, as always.
void ExpectBadArguments(const testing_support::RunResult& result, const std::string& what) {
  EXPECT_EQ(result.exitCode, 64) << what;
  EXPECT_EQ(result.err.rfind("Usage: LvMAPI <database> <cmd> [guid1 [guid2]]\n", 0), 0u) << what << result.err;
}

TEST_F(LvMAPIProcess, TooFewArgumentsAreListedAndNothingRuns) {
  auto result = Start({"church.db"});
  ExpectBadArguments(result, "argc 2");
  EXPECT_EQ(Log(), "Entering LvMAPI.exe\r\nNot enough parameters: 2\r\nArgument 0: " + m_program +
                       "\r\nArgument 1: church.db\r\n");

  result = Start({});
  ExpectBadArguments(result, "argc 1");
  EXPECT_EQ(Log(), "Entering LvMAPI.exe\r\nNot enough parameters: 1\r\nArgument 0: " + m_program + "\r\n");
}

TEST_F(LvMAPIProcess, UnknownCommandNumbersOnlySetTheDatabasePathAndSaySo) {
  for (const std::string cmd : {"0", "6", "-1", "letters", ""}) {
    auto result = Start({"church.db", cmd, "{ABC}", "{DEF}"});
    ExpectBadArguments(result, cmd);
    EXPECT_EQ(Log(), Header("church.db", cmd, "{ABC}", "{DEF}") + "Unknown command: " + cmd + "\r\n")
        << Visible(Log());
  }
}

TEST_F(LvMAPIProcess, SendCommandsWithoutAnIdentifierOnlyLogTheirError) {
  auto result = Start({"church.db", "1"});
  ExpectBadArguments(result, "1");
  EXPECT_EQ(Log(), Header("church.db", "1") + "Error.  Send goal status command with empty guid1.\r\n");

  for (const std::string cmd : {"2", "3"}) {
    result = Start({"church.db", cmd, ""});
    ExpectBadArguments(result, cmd);
    EXPECT_EQ(Log(), Header("church.db", cmd) +
                         "Calling LVML_SendSurveyEmails\r\nError.  Send survey command with empty guid1.\r\n");
  }
}

TEST_F(LvMAPIProcess, HelpShowsTheUsageAndRunsNothing) {
  const auto result = Start({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.rfind("Usage: LvMAPI <database> <cmd> [guid1 [guid2]]\n", 0), 0u) << result.out;
  EXPECT_FALSE(testing_support::Exists(m_bin + "/LvMAPI.log"));
}

TEST_F(LvMAPIProcess, EachCommandNumberCallsItsJob) {
  struct Case {
    std::string cmd;
    std::string expectedAfterHeader;
  };
  const Case cases[] = {
      {"1", "Calling LVML_SendStatusEmails\r\n"},
      {"2", "Calling LVML_SendSurveyEmails\r\n"},
      {"3abc", "Calling LVML_SendSurveyEmails\r\n"},
      {"4", "Calling LVSAL_GetOutlookAutomationForEmailOn\r\nPROCESS SURVEY REPLY EMAILS\r\n\r\n"},
      {"  5", "Calling LVSAL_GetOutlookAutomationForEmailOn\r\nPROCESS SURVEY REPLY EMAILS\r\n\r\n"},
  };
  for (const auto& c : cases) {
    auto result = Start({"church.db", c.cmd, "{00000000-0000-0000-0000-000000000000}"});
    const std::string expected = Header("church.db", c.cmd, "{00000000-0000-0000-0000-000000000000}") +
                                 c.expectedAfterHeader;
    EXPECT_EQ(Log().substr(0, expected.size()), expected) << Visible(Log());
  }
}

TEST_F(LvMAPIProcess, TheDatabaseArgumentIsAlwaysTakenBesideTheProgram) {
  Start({"/elsewhere/church.db", "7"});
  EXPECT_EQ(Log(), Header("/elsewhere/church.db", "7") + "Unknown command: 7\r\n");
  EXPECT_NE(Log().find("Setting database path: " + testing_support::NativePath(m_bin + "//elsewhere/church.db") + "\r\n"),
            std::string::npos);
}

TEST_F(LvMAPIProcess, ASecondRunReplacesTheLog) {
  Start({"church.db", "9", "a-much-longer-identifier-than-the-next-run-uses"});
  Start({"church.db", "9"});
  EXPECT_EQ(Log(), Header("church.db", "9") + "Unknown command: 9\r\n");
}

TEST_F(LvMAPIProcess, ArgumentsBeyondTheFifthAreIgnored) {
  Start({"church.db", "8", "g1", "g2", "extra", "more"});
  EXPECT_EQ(Log(), Header("church.db", "8", "g1", "g2") + "Unknown command: 8\r\n");
}

TEST_F(LvMAPIProcess, ADatabaseFailureEndsTheRunNonZeroWithEverythingWritten) {
  testing_support::WriteFile(m_bin + "/garbage.db", std::string(4096, 'x'));
  testing_support::ExecSql(m_bin + "/empty.db", "CREATE TABLE Unrelated (x TEXT);");
  struct Case {
    std::string database;
    std::string reason;
  };
  const Case cases[] = {
      {"missing.db", "cannot open database"},
      {"garbage.db", "file is not a database"},
      {"empty.db", "no such table: Settings"},
  };
  for (const auto& c : cases) {
    std::remove((m_bin + "/LV_DB_Log.txt").c_str());
    auto result = Start({c.database, "4"});
    EXPECT_EQ(result.exitCode, 1) << c.database;
    EXPECT_EQ(result.signal, 0) << "no abort, no core dump";
    // The run log is written up to the failing step.
    EXPECT_EQ(Log(), Header(c.database, "4") + "Calling LVSAL_GetOutlookAutomationForEmailOn\r\n");
    // The alert, then the exception's text, on standard error.
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "Corvane Has Encountered an Error");
    EXPECT_NE(result.err.find("LvMAPI: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    // One entry in the database error log beside the program.
    const std::string dbLog = ReadFile(m_bin + "/LV_DB_Log.txt");
    EXPECT_NE(dbLog.find(c.reason), std::string::npos) << dbLog;
    EXPECT_EQ(dbLog.find("================\r\n\r\n\r\n", 80), std::string::npos) << "more than one entry";
  }
  EXPECT_FALSE(testing_support::Exists(m_bin + "/missing.db")) << "a missing database must not be created";
}

}  // namespace
