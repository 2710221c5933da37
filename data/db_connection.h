// The database gateway.
//
// Every SQL statement of the program goes through a CDBCommand on a
// CDBConnection. A statement whose first six characters read SELECT (in any
// letter case, with no leading blank) goes to the database interface library's
// Select and fills the attached CVistaResults; every other statement goes to
// SendSQLString. A failure inside the library arrives as an exception derived
// from std::exception: it is appended to the database error log beside the
// program, the alert is shown, and the same exception is thrown on unchanged.
// Exceptions of other types pass through untouched. The connection holds
// nothing of its own: the library keeps the database path (SetDBPath).
//
// CDBTransaction makes the statements of one unit of work (a reply with its
// responses) land together or not at all, so a failure or a crash half-way
// never leaves part of a unit that a second run would store again or skip.
// Starting and committing it are reported like a failing statement.
#pragma once

#include <string>

#include "data/core.h"
#include "tarnbase/vista_results.h"

inline constexpr const char kDBLogFileName[] = "LV_DB_Log.txt";

class CDBConnection : public CLVCore {
 public:
  // Makes the connection usable; always true (the library opens the database
  // on first use).
  bool Open() { return true; }
  // Runs `statement`; `results` receives the rows of a SELECT. True when the
  // library call returned; a failure throws (see above).
  bool Execute(std::string statement, CVistaResults* results);

  // The library's unit of work (BeginTransaction and its kin). Begin and
  // Commit fail like Execute; Rollback never fails.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction() noexcept;
};

// One unit of work on a connection: Begin starts it, Commit stores it, and a
// unit begun but not committed when the object goes (an exception on its way
// out) is rolled back.
class CDBTransaction {
 public:
  explicit CDBTransaction(CDBConnection* connection) : m_connection(connection) {}
  ~CDBTransaction() {
    if (m_open) m_connection->RollbackTransaction();
  }
  CDBTransaction(const CDBTransaction&) = delete;
  CDBTransaction& operator=(const CDBTransaction&) = delete;

  void Begin() {
    m_connection->BeginTransaction();
    m_open = true;
  }
  void Commit() {
    m_connection->CommitTransaction();
    m_open = false;
  }

 private:
  CDBConnection* m_connection;  // not owned
  bool m_open = false;
};

class CDBCommand : public CLVCommand {
 public:
  CDBCommand(CDBConnection* connection, std::string statement)
      : m_connection(connection), m_statement(std::move(statement)) {}

  bool SetResults(CVistaResults* results) {
    m_results = results;
    return true;
  }
  void Execute() override;

 private:
  CDBConnection* m_connection;  // not owned
  std::string m_statement;
  CVistaResults* m_results = nullptr;  // not owned
};
