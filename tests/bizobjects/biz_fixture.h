// Shared by the business-object tests: a fresh database made from the schema
// for each test, an open connection on it, and the statements the database
// library received, read back from its statement trace.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "data/db_connection.h"
#include "test_support.h"

namespace biz_test {

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Every statement sent since the previous call (or since SetUp), each
  // followed by one line feed, exactly as the library's trace wrote them.
  std::string TakeStatements();
  void Exec(const std::string& sql) { testing_support::ExecSql(m_dbPath, sql); }
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    return testing_support::QueryRows(m_dbPath, sql);
  }

  testing_support::ScratchDir m_dir;
  std::string m_dbPath = m_dir.file("lvmapi.db");
  CDBConnection m_connection;
};

}  // namespace biz_test
