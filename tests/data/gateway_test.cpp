#include <gtest/gtest.h>

#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
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

TEST_F(Gateway, AReceivedRowHoldsWhatGetFieldGivesForEachColumn) {
  using Row = std::vector<std::string>;
  const std::string sql = "SELECT Id, Num, Real, Note FROM T ORDER BY Id";
  std::vector<Row> kept;
  CVistaResults walked;
  Run(sql, walked);
  for (int32_t status = walked.MoveFirst(); status >= 0 && status != DB_S_ENDOFROWSET; status = walked.MoveNext()) {
    Row asRead;
    for (int32_t column = 1; column <= walked.ColumnCount(); ++column) asRead.push_back(walked.GetField(column));
    kept.push_back(asRead);
  }

  std::vector<Row> received;
  CVistaResults streamed;
  streamed.ReceiveRows(
      [&](std::span<const std::string_view> row) { received.push_back(Row(row.begin(), row.end())); });
  Run(sql, streamed);
  EXPECT_EQ(received, kept);
  EXPECT_EQ(received, (std::vector<Row>{{"a", "1", "2.5", ""}, {"b", "2", "", "line\r\nfeed"}, {"c", "3", "0.1", "cr\r\r\nlf"}}));
  EXPECT_EQ(streamed.RowCount(), 3u);
  EXPECT_EQ(streamed.MoveFirst(), DB_S_ENDOFROWSET) << "received rows are not kept";
  EXPECT_EQ(streamed.GetField(1), "");

  // Without a receiver again, rows are kept as before.
  streamed.ReceiveRows(nullptr);
  Run(sql, streamed);
  ASSERT_EQ(streamed.MoveFirst(), 0);
  EXPECT_EQ(streamed.GetField(4), "");
  EXPECT_EQ(streamed.MoveNext(), 0);
  EXPECT_EQ(streamed.GetField(4), "line\r\nfeed");
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
