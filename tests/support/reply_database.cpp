#include "reply_database.h"

#include <cstdlib>
#include <filesystem>

#include "tarnbase/tarnbase.h"
#include "tasks/task_store.h"
#include "platform/environment.h"

namespace testing_support {
namespace {

// Building the schema costs far more than copying a file: once per program.
const std::string& SchemaDatabase() {
  static ScratchDir dir;
  static const std::string path = [] {
    const std::string file = dir.file("schema.db");
    CreateDatabase(file);
    return file;
  }();
  return path;
}

}  // namespace

void AddRepliedToRows(const std::string& path) {
  ExecSql(path,
          "INSERT INTO Survey VALUES ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'Spring', '', ''),"
          " ('{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B3}', 'Autumn', '', '');"
          "INSERT INTO Strategy VALUES ('{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', 'Outreach', '');"
          "INSERT INTO Person (PersonID, FirstName, Email) VALUES ('{9E000000-0000-4000-8000-000000000001}', 'Grace',"
          " 'grace.mwangi@example.org');"
          "INSERT INTO SMARTGoal (GoalID, GoalTitle, PersonId) VALUES"
          " ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}', 'Meal', '{9E000000-0000-4000-8000-000000000001}'),"
          " ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}', 'Youth', '{9E000000-0000-4000-8000-000000000001}'),"
          " ('{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0003}', 'Walk', '{9E000000-0000-4000-8000-000000000001}');"
          "INSERT INTO StrategyGoalXRef SELECT '{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}', GoalID FROM SMARTGoal;");
  // Both surveys went to these members and ask questions ...0001 to ...0009.
  std::string sql;
  int n = 0;
  for (const char* member : kSurveyMembers) {
    ++n;
    const std::string id =
        "'{9E000000-0000-4000-8000-1000000000" + std::string(n < 10 ? "0" : "") + std::to_string(n) + "}'";
    sql += "INSERT INTO Person (PersonID, Email) VALUES (" + id + ", '" + member + "');";
    sql += "INSERT INTO SurveyPersonXRef SELECT SurveyID, " + id + " FROM Survey;";
  }
  for (int q = 1; q <= 9; ++q) {
    const std::string id = "'{C0A80001-5E11-4D2A-9F3B-00000000000" + std::to_string(q) + "}'";
    sql += "INSERT INTO SurveyQuestion (SurveyQuestionID, SurveyQuestionNumber) VALUES (" + id + ", " +
           std::to_string(q) + ");";
    sql += "INSERT INTO SurveyQuestionXRef SELECT SurveyID, " + id + " FROM Survey;";
  }
  ExecSql(path, sql);
}

void AddRepliedToRows(const std::string& path, const std::string& surveyId, const std::string& goalId,
                      const std::string& member) {
  auto quoted = [](std::string text) {
    for (size_t at = text.find('\''); at != std::string::npos; at = text.find('\'', at + 2)) text.insert(at, 1, '\'');
    return "'" + text + "'";
  };
  ExecSql(path, "INSERT INTO Survey (SurveyID) VALUES (" + quoted(surveyId) + "); INSERT INTO SMARTGoal (GoalID) VALUES (" +
                    quoted(goalId) + ");");
  if (!member.empty()) {
    ExecSql(path, "INSERT INTO SurveyOtherEmail VALUES ('{9E000000-0000-4000-8000-200000000001}', " + quoted(surveyId) +
                      ", " + quoted(member) + ");");
  }
  ExecSql(path, "INSERT INTO SurveyQuestionXRef SELECT " + quoted(surveyId) + ", SurveyQuestionID FROM SurveyQuestion;");
}

void ReplyDatabaseTest::SetUp() {
  std::filesystem::copy_file(SchemaDatabase(), m_dbPath);
  std::filesystem::create_directory(m_tasks);
  platform::SetEnvironmentValue(kTasksFolderVariable, m_tasks);
  // The library reads the trace switch again whenever it is given a path.
  platform::SetEnvironmentValue("TARNBASE_TRACE", m_tracePath);
  SetDBPath(m_dbPath.c_str());
}

void ReplyDatabaseTest::TearDown() {
  TarnbaseClose();
  platform::RemoveEnvironmentValue("TARNBASE_TRACE");
  platform::RemoveEnvironmentValue(kTasksFolderVariable);
}

std::vector<std::string> ReplyDatabaseTest::TakeStatements() {
  const std::string all = ReadFile(m_tracePath);
  std::vector<std::string> statements;
  std::size_t start = m_consumed;
  for (std::size_t end; start < all.size() && (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
    statements.push_back(all.substr(start, end - start));
  }
  m_consumed = start;
  return statements;
}

void ReplyDatabaseTest::SetSetting(int number, bool on) {
  Exec("DELETE FROM Settings WHERE SettingNum = " + std::to_string(number) + "; INSERT INTO Settings VALUES (" +
       std::to_string(number) + ", 'switch', '', " + (on ? "1" : "0") + ", 0);");
}

}  // namespace testing_support
