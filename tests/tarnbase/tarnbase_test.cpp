#include "tarnbase/tarnbase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

#include "tarnbase/vista_results.h"
#include "test_support.h"
#include "platform/environment.h"

namespace {

using testing_support::QueryRows;

class Tarnbase : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ExecSql(m_db, "CREATE TABLE T (Id TEXT, Num INTEGER, Real REAL, Note TEXT, Data BLOB);");
    SetDBPath(m_db.c_str());
  }
  void TearDown() override {
    TarnbaseClose();
    platform::RemoveEnvironmentValue("TARNBASE_TRACE");
  }

  testing_support::ScratchDir m_dir;
  std::string m_db = m_dir.file("t.db");
};

TEST_F(Tarnbase, SelectRendersEveryValueAsText) {
  SendSQLString("INSERT INTO T VALUES ('a', -42, 2.25, NULL, x'41004243')");
  CVistaResults results;
  EXPECT_EQ(Select("SELECT Id, Num, Real, Note, Data, 1+1 AS Two FROM T", results), 1);
  ASSERT_EQ(results.ColumnCount(), 6);
  EXPECT_EQ(results.ColumnNames()[5], "Two");
  ASSERT_EQ(results.MoveFirst(), 0);
  EXPECT_EQ(results.GetField(1), "a");
  EXPECT_EQ(results.GetField(2), "-42");
  EXPECT_EQ(results.GetField(3), "2.25");
  EXPECT_EQ(results.GetField(4), "");
  EXPECT_EQ(results.GetField(5), std::string("A\0BC", 4));  // bytes kept, NUL included
  EXPECT_EQ(results.GetField(6), "2");
}

TEST_F(Tarnbase, ASelectFailingAfterItsFirstRowLeavesNoRowsToRead) {
  SendSQLString("INSERT INTO T (Id, Num) VALUES ('a', 1)");
  SendSQLString("INSERT INTO T (Id, Num) VALUES ('b', -9223372036854775807 - 1)");
  CVistaResults results;
  // abs() of the smallest integer fails with an overflow on the second row.
  EXPECT_THROW(Select("SELECT Id, abs(Num) FROM T ORDER BY Id", results), TarnbaseError);
  EXPECT_EQ(results.RowCount(), 0u);
  EXPECT_EQ(results.MoveFirst(), DB_S_ENDOFROWSET);
}

TEST_F(Tarnbase, SendSQLStringReportsTheRowsItChanged) {
  EXPECT_EQ(SendSQLString("INSERT INTO T (Id) VALUES ('a')"), 1);
  EXPECT_EQ(SendSQLString("INSERT INTO T (Id) VALUES ('b')"), 1);
  EXPECT_EQ(SendSQLString("UPDATE T SET Num = 1"), 2);
  EXPECT_EQ(SendSQLString("DELETE FROM T WHERE Id = 'zzz'"), 0);
}

TEST_F(Tarnbase, RefusesATextHoldingMoreThanOneStatement) {
  EXPECT_THROW(SendSQLString("INSERT INTO T (Id) VALUES ('x'); DROP TABLE T"), std::invalid_argument);
  CVistaResults results;
  EXPECT_THROW(Select("SELECT Id FROM T; DELETE FROM T", results), std::invalid_argument);
  // Nothing of the refused text ran, not even its first statement.
  EXPECT_TRUE(QueryRows(m_db, "SELECT Id FROM T").empty());
  // A trailing semicolon, blanks or a comment are not a second statement.
  EXPECT_EQ(SendSQLString("INSERT INTO T (Id) VALUES ('y');  -- note\n"), 1);
}

TEST_F(Tarnbase, FailuresNameSQLitesErrorAndTheStatement) {
  try {
    SendSQLString("INSERT INTO Missing VALUES (1)");
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("no such table: Missing"), std::string::npos) << what;
    EXPECT_NE(what.find("INSERT INTO Missing VALUES (1)"), std::string::npos) << what;
  }
  CVistaResults results;
  EXPECT_THROW(Select("SELEC nonsense", results), TarnbaseError);
}

TEST_F(Tarnbase, NeverCreatesAMissingDatabaseFile) {
  const std::string missing = m_dir.file("missing.db");
  SetDBPath(missing.c_str());
  CVistaResults results;
  try {
    Select("SELECT 1", results);
    FAIL() << "no exception";
  } catch (const TarnbaseError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  EXPECT_FALSE(testing_support::Exists(missing));
}

TEST_F(Tarnbase, AReadOnlyDatabaseRefusesWritesClearly) {
  chmod(m_db.c_str(), 0444);
  chmod(m_dir.path().c_str(), 0755);
  // Root writes regardless of file modes, so the attempt runs as an
  // unprivileged user when the tests run as root.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    TarnbaseClose();
    SetDBPath(m_db.c_str());
    try {
      SendSQLString("INSERT INTO T (Id) VALUES ('x')");
    } catch (const TarnbaseError& e) {
      _exit(std::string(e.what()).find("readonly") != std::string::npos ? 0 : 2);
    }
    _exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write succeeded; 2: another error text";
  EXPECT_TRUE(QueryRows(m_db, "SELECT Id FROM T").empty());
}

TEST_F(Tarnbase, TraceFileReceivesEveryStatementOnItsOwnLine) {
  const std::string trace = m_dir.file("trace.sql");
  platform::SetEnvironmentValue("TARNBASE_TRACE", trace);
  SetDBPath(m_db.c_str());
  SendSQLString("INSERT INTO T (Id) VALUES ('x')");
  CVistaResults results;
  Select("SELECT Id FROM T", results);
  EXPECT_THROW(SendSQLString("INSERT INTO Missing VALUES (1)"), TarnbaseError);
  EXPECT_EQ(testing_support::ReadFile(trace),
            "INSERT INTO T (Id) VALUES ('x')\nSELECT Id FROM T\nINSERT INTO Missing VALUES (1)\n");
}

TEST_F(Tarnbase, WaitsForAnotherWriterInsteadOfFailing) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(m_db.c_str(), &db);
    sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO T (Id) VALUES ('other');", nullptr, nullptr, nullptr);
    (void)!write(ready[1], "x", 1);
    usleep(1500 * 1000);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendSQLString("INSERT INTO T (Id) VALUES ('mine')"), 1);
  const auto waited = std::chrono::steady_clock::now() - start;
  waitpid(pid, nullptr, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(500));  // it did wait for the lock
  EXPECT_EQ(QueryRows(m_db, "SELECT COUNT(*) FROM T")[0][0], "2");
  close(ready[0]);
  close(ready[1]);
}

TEST_F(Tarnbase, AUnitOfWorkIsStoredWholeOrNotAtAll) {
  auto ids = [&] { return QueryRows(m_db, "SELECT Id FROM T ORDER BY Id"); };
  using Rows = std::vector<std::vector<std::string>>;

  BeginTransaction();
  SendSQLString("INSERT INTO T (Id) VALUES ('a')");
  SendSQLString("INSERT INTO T (Id) VALUES ('b')");
  EXPECT_EQ(ids(), Rows{}) << "another connection sees nothing before the commit";
  CommitTransaction();
  EXPECT_EQ(ids(), (Rows{{"a"}, {"b"}}));

  // A failing statement leaves the unit open; rolling back undoes what
  // went before it.
  BeginTransaction();
  SendSQLString("INSERT INTO T (Id) VALUES ('c')");
  EXPECT_THROW(SendSQLString("INSERT INTO Missing VALUES (1)"), TarnbaseError);
  RollbackTransaction();
  EXPECT_EQ(ids(), (Rows{{"a"}, {"b"}}));
  RollbackTransaction();  // nothing open: nothing happens

  // A connection that goes before the commit (the process ended) stores
  // nothing of the unit.
  BeginTransaction();
  SendSQLString("INSERT INTO T (Id) VALUES ('d')");
  TarnbaseClose();
  EXPECT_EQ(ids(), (Rows{{"a"}, {"b"}}));

  // A unit inside a unit is refused.
  BeginTransaction();
  EXPECT_THROW(BeginTransaction(), TarnbaseError);
  RollbackTransaction();
}

TEST_F(Tarnbase, AProcessKilledInsideAUnitLeavesNothingOfIt) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TarnbaseClose();
    SetDBPath(m_db.c_str());
    BeginTransaction();
    for (int i = 0; i < 100; ++i) SendSQLString("INSERT INTO T (Id) VALUES ('killed')");
    raise(SIGKILL);
    _exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  // The journal left behind is rolled back when the database is next opened.
  TarnbaseClose();
  SetDBPath(m_db.c_str());
  CVistaResults results;
  EXPECT_EQ(Select("SELECT Id FROM T", results), 0);
  EXPECT_EQ(SendSQLString("INSERT INTO T (Id) VALUES ('after')"), 1);
  EXPECT_EQ(QueryRows(m_db, "SELECT Id FROM T"), (std::vector<std::vector<std::string>>{{"after"}}));
}

TEST_F(Tarnbase, UnitsOfWorkAreNotTracedAsStatements) {
  const std::string trace = m_dir.file("trace.sql");
  platform::SetEnvironmentValue("TARNBASE_TRACE", trace);
  SetDBPath(m_db.c_str());
  BeginTransaction();
  SendSQLString("INSERT INTO T (Id) VALUES ('x')");
  CommitTransaction();
  EXPECT_EQ(testing_support::ReadFile(trace), "INSERT INTO T (Id) VALUES ('x')\n");
}

TEST_F(Tarnbase, WithoutAPathNothingRuns) {
  // A fresh process state is not reachable here, but an empty path is: it is
  // a missing file like any other.
  SetDBPath("");
  CVistaResults results;
  EXPECT_THROW(Select("SELECT 1", results), TarnbaseError);
}

}  // namespace
