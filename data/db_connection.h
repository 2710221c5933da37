// The database gateway: every SQL statement of the program goes through a
// CDBCommand on a CDBConnection, so that each failure is logged and shown
// before it is thrown on.
#pragma once

#include <string>

#include "data/core.h"
#include "tarnbase/vista_results.h"

inline constexpr const char kDBLogFileName[] = "LV_DB_Log.txt";

// Holds nothing of its own: the library keeps the database path (SetDBPath).
class CDBConnection : public CLVCore {
 public:
  // Makes the connection usable; always true (the library opens the database
  // on first use).
  bool Open() { return true; }
  // Runs `statement`: a text whose first six characters read SELECT (in any
  // letter case, with no leading blank) goes to the library's Select and
  // fills `results`, any other to SendSQLString. True when the library call
  // returned. A failure of the library (an exception derived from
  // std::exception) is appended to the database error log beside the program,
  // the alert is shown, and the same exception is thrown on; exceptions of
  // other types pass through untouched.
  bool Execute(std::string statement, CVistaResults* results);

  // The library's unit of work (BeginTransaction and its kin). Begin and
  // Commit fail like Execute; Rollback never fails.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction() noexcept;
};

// One unit of work on a connection (a reply with its responses), so that a
// failure or a crash half-way never leaves part of a unit that a second run
// would store again or skip. Begin starts it and Commit stores it, both
// failing like a statement; a unit begun but not committed when the object
// goes (an exception on its way out) is rolled back.
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
