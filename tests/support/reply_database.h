// A fixture for the reply parsers, which open their own connections: every
// test gets a fresh database made from the project's schema, named to the
// database library, with the library's statement trace on, so a test can read
// back which statements were sent and in which order.
//
// The database library keeps one database path and one connection for the
// whole process: SetUp points it at the test's own file, TearDown closes the
// connection. The task folder variable is pointed at the test's own (empty)
// folder, so no test ever reaches a folder beside the test program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

// Rows AddRepliedToRows puts in: a survey, two of its questions, the
// strategy and one of its goals.
namespace replied_to {
inline const std::string kSurvey = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
inline const std::string kQ1 = "{C0A80001-5E11-4D2A-9F3B-000000000001}";
inline const std::string kQ2 = "{C0A80001-5E11-4D2A-9F3B-000000000002}";
inline const std::string kStrategy = "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}";
inline const std::string kGoal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";
}  // namespace replied_to

// The members both test surveys went to (their persons).
inline constexpr const char* kSurveyMembers[] = {
    "ann.lee@example.org", "ann@example.org",          "rob@example.org", "rob.obrien@example.org",
    "bob@example.org",     "b@example.org",            "a@example.org",   "kim@example.org",
    "pat@example.org",     "david.kim@example.org",    "maria.santos@example.org"};

// The rows the reply tests' messages refer to, put into the database at
// `path`: the surveys {6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2} and ...A1B3,
// each sent to kSurveyMembers and asking the questions
// {C0A80001-5E11-4D2A-9F3B-000000000001} to ...0009, the strategy
// {E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7} and its goals
// {F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001} to ...0003, each the responsibility
// of grace.mwangi@example.org (a reply to anything else is one to a survey
// or goal deleted since).
void AddRepliedToRows(const std::string& path);
// A survey `surveyId` (asking the questions above, and sent to `member` as
// an other address when one is given) and a goal `goalId` as well, each put
// in as given (quotes and all).
void AddRepliedToRows(const std::string& path, const std::string& surveyId, const std::string& goalId,
                      const std::string& member = "");

class ReplyDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The statements sent since the previous call (or since SetUp), in order.
  std::vector<std::string> TakeStatements();

  void Exec(const std::string& sql) { ExecSql(m_dbPath, sql); }
  std::vector<std::vector<std::string>> Rows(const std::string& sql) { return QueryRows(m_dbPath, sql); }
  // Settings row `number` with BitVal `on`.
  void SetSetting(int number, bool on);

  ScratchDir m_dir;
  std::string m_dbPath = m_dir.file("lvmapi.db");
  std::string m_tasks = m_dir.file("Tasks");

 private:
  std::string m_tracePath = m_dir.file("statements.txt");
  std::size_t m_consumed = 0;
};

}  // namespace testing_support
