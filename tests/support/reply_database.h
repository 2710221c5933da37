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
