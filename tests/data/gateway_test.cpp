#include <gtest/gtest.h>

#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/db_log.h"
#include "tarnbase/tarnbase.h"
#include "test_support.h"
#include "util/identifiers.h"
#include "util/text_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using testing_support::ReadFile;

class Gateway : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ExecSql(m_db, "CREATE TABLE T (Id TEXT, Num INTEGER, Real REAL, Note TEXT);"
                                   "INSERT INTO T VALUES ('a', 1, 2.5, NULL);"
                                   "INSERT INTO T VALUES ('b', 2, NULL, 'line\nfeed');"
                                   "INSERT INTO T VALUES ('c', 3, 0.1, 'cr\r\nlf');");
    SetDBPath(m_db.c_str());
  }
  void TearDown() override { TarnbaseClose(); }

  void Run(const std::string& sql, CVistaResults& results) {
    CDBConnection connection;
    ASSERT_TRUE(connection.Open());
    CDBCommand command(&connection, sql);
    command.SetResults(&results);
    command.Execute();
  }

  testing_support::ScratchDir m_dir;
  std::string m_db = m_dir.file("test.db");
};

TEST_F(Gateway, WalksEveryRowAndReadsColumnsFromOne) {
  CVistaResults results;
  Run("SELECT Id, Num, Real, Note FROM T ORDER BY Id", results);
  EXPECT_EQ(results.ColumnCount(), 4);
  std::vector<std::string> seen;
  for (int32_t status = results.MoveFirst(); status >= 0 && status != DB_S_ENDOFROWSET; status = results.MoveNext()) {
    seen.push_back(results.GetField(1) + "|" + results.GetField(2) + "|" + results.GetField(3) + "|" +
                   results.GetField(4) + "|" + results.GetField(5));
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], "a|1|2.5||");               // NULL reads as empty; beyond the count too
  EXPECT_EQ(seen[1], "b|2||line\r\nfeed|");     // a lone LF comes back with a CR before it
  EXPECT_EQ(seen[2], "c|3|0.1|cr\r\r\nlf|");    // CR LF comes back as CR CR LF
}

TEST_F(Gateway, ATakenRowHoldsWhatGetFieldGivesForEachColumn) {
  using Row = std::vector<std::string>;
  const auto take = [](CVistaResults& results) {
    const std::span<std::string> row = results.TakeRow();
    return Row(std::make_move_iterator(row.begin()), std::make_move_iterator(row.end()));
  };
  CVistaResults results;
  Run("SELECT Id, Num, Real, Note FROM T ORDER BY Id", results);
  EXPECT_EQ(take(results), Row{});  // no row is current yet
  std::vector<Row> taken;
  for (int32_t status = results.MoveFirst(); status >= 0 && status != DB_S_ENDOFROWSET; status = results.MoveNext()) {
    Row asRead;
    for (int32_t column = 1; column <= results.ColumnCount(); ++column) asRead.push_back(results.GetField(column));
    taken.push_back(take(results));
    EXPECT_EQ(taken.back(), asRead);
  }
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0], (Row{"a", "1", "2.5", ""}));
  EXPECT_EQ(taken[1], (Row{"b", "2", "", "line\r\nfeed"}));
  EXPECT_EQ(taken[2], (Row{"c", "3", "0.1", "cr\r\r\nlf"}));
  EXPECT_EQ(take(results), Row{});  // past the last row
}

TEST_F(Gateway, CursorStatusesFollowTheRowSet) {
  CVistaResults none;
  Run("SELECT Id FROM T WHERE Id = 'zzz'", none);
  EXPECT_EQ(none.MoveFirst(), DB_S_ENDOFROWSET);
  EXPECT_EQ(none.MoveNext(), DB_S_ENDOFROWSET);
  EXPECT_EQ(none.GetField(1), "");

  CVistaResults one;
  Run("SELECT Id FROM T WHERE Id = 'b'", one);
  EXPECT_EQ(one.MoveFirst(), 0);
  EXPECT_EQ(one.GetField(1), "b");
  EXPECT_EQ(one.MoveNext(), DB_S_ENDOFROWSET);
  EXPECT_EQ(one.GetField(1), "");
  EXPECT_EQ(one.MoveNext(), DB_S_ENDOFROWSET);

  one.Reset();
  EXPECT_EQ(one.ColumnCount(), 0);
  EXPECT_EQ(one.MoveFirst(), DB_S_ENDOFROWSET);
}

TEST_F(Gateway, ChoosesSelectOnlyForAStatementThatStartsWithTheKeyword) {
  CVistaResults lower;
  Run("select Id from T", lower);  // any letter case
  EXPECT_EQ(lower.RowCount(), 3u);

  // With a leading blank the statement is not a SELECT to the gateway: it is
  // sent without a result, so the result set stays empty.
  CVistaResults blank;
  Run(" SELECT Id FROM T", blank);
  EXPECT_EQ(blank.RowCount(), 0u);

  CVistaResults change;
  Run("UPDATE T SET Num = 9 WHERE Id = 'a'", change);
  EXPECT_EQ(change.RowCount(), 0u);
  EXPECT_EQ(testing_support::QueryRows(m_db, "SELECT Num FROM T WHERE Id = 'a'")[0][0], "9");
}

TEST_F(Gateway, AFailingStatementIsLoggedAlertedAndThrownOnUnchanged) {
  const std::string logPath = PathBesideProgram(kDBLogFileName);
  const std::string marker = "NoSuchTable_" + NewGuidString().substr(1, 8);
  const std::string sql = "SELECT x FROM " + marker;
  CaptureStderr();
  std::string message;
  try {
    CVistaResults results;
    Run(sql, results);
  } catch (const TarnbaseError& e) {
    message = e.what();
  }
  const std::string err = GetCapturedStderr();
  ASSERT_FALSE(message.empty()) << "no TarnbaseError reached the caller";
  EXPECT_NE(message.find("no such table"), std::string::npos) << message;
  EXPECT_NE(message.find(sql), std::string::npos) << message;

  // Exactly one entry in the log, holding the exception's text whole.
  const std::string log = ReadFile(logPath);
  size_t at = log.find(message);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find(message, at + 1), std::string::npos);
  EXPECT_EQ(log.substr(at + message.size(), 68),
            "\r\n================================================================\r\n");

  // The alert: caption, then the message naming the log beside the program.
  EXPECT_EQ(err.substr(0, err.find('\n')), "Corvane Has Encountered an Error");
  EXPECT_NE(err.find("A log has been saved called '" + logPath + "'."), std::string::npos) << err;
}

TEST_F(Gateway, AnInsertCarriesQuotesAndLineBreaksIntact) {
  CVistaResults results;
  Run("INSERT INTO T VALUES ('d', 4, 1, 'it''s\r\nhere')", results);
  EXPECT_EQ(testing_support::QueryRows(m_db, "SELECT Note FROM T WHERE Id = 'd'")[0][0], "it's\r\nhere");
}

TEST_F(Gateway, AUnitOfWorkLeftWithoutCommitIsRolledBack) {
  CDBConnection connection;
  CVistaResults results;
  try {
    CDBTransaction unit(&connection);
    unit.Begin();
    Run("INSERT INTO T (Id) VALUES ('d')", results);
    throw std::runtime_error("a failure half-way");
  } catch (const std::runtime_error&) {
  }
  {
    CDBTransaction unit(&connection);
    unit.Begin();
    Run("INSERT INTO T (Id) VALUES ('e')", results);
    unit.Commit();
  }
  EXPECT_EQ(testing_support::QueryRows(m_db, "SELECT Id FROM T WHERE Id > 'c' ORDER BY Id"),
            (std::vector<std::vector<std::string>>{{"e"}}));
}

TEST_F(Gateway, AUnitThatCannotBeginIsLoggedAlertedAndThrown) {
  const std::string logPath = PathBesideProgram(kDBLogFileName);
  const std::string before = ReadFile(logPath);
  CDBConnection connection;
  CDBTransaction outer(&connection);
  outer.Begin();
  CDBTransaction inner(&connection);
  CaptureStderr();
  EXPECT_THROW(inner.Begin(), TarnbaseError);
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(err.substr(0, err.find('\n')), "Corvane Has Encountered an Error");
  const std::string added = ReadFile(logPath).substr(before.size());
  EXPECT_NE(added.find("cannot start a transaction within a transaction"), std::string::npos) << added;
}

}  // namespace
