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
#pragma once

#include <string>

#include "data/core.h"
#include "data/vista_results.h"

inline constexpr const char kDBLogFileName[] = "LV_DB_Log.txt";

class CDBConnection : public CLVCore {
 public:
  // Makes the connection usable; always true (the library opens the database
  // on first use).
  bool Open() { return true; }
  // Runs `statement`; `results` receives the rows of a SELECT. True when the
  // library call returned; a failure throws (see above).
  bool Execute(std::string statement, CVistaResults* results);
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
