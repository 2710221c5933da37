// The database interface library: every SQL statement of LvMAPI goes through
// these three functions. It is backed by SQLite; the database is one file.
//
// - SetDBPath names the database file once, before any statement. The file is
//   opened read-write on first use and never created: a missing file is a
//   failure, not a new empty database.
// - One connection lives for the whole process, with a busy timeout of at
//   least five seconds, because the main application may be writing at the
//   same moment. Calls come from one thread only: SQLite does not lock the
//   connection for each call.
// - Each call takes exactly one statement; a text holding more than one is
//   refused.
// - Select fills the result set with the column names and every row as text:
//   NULL reads as the empty text, numbers as SQLite renders them.
// - Every failure throws an exception derived from std::exception whose text
//   names SQLite's error and the statement (std::invalid_argument for a text
//   that is refused before SQLite runs it).
// - When the environment variable TARNBASE_TRACE names a file, every statement
//   received by SendSQLString or Select is appended to it, followed by one
//   line feed (a diagnostic switch).
// - BeginTransaction, CommitTransaction and RollbackTransaction group the
//   statements between them into one unit that is stored whole or not at
//   all: a failing statement, a rollback or a process that dies before the
//   commit leaves nothing of it (SQLite undoes an interrupted unit when the
//   database is next opened). BeginTransaction takes the write lock at once,
//   waiting up to the busy timeout like any statement. They are not
//   statements of the program and are not traced.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class CVistaResults;

class TarnbaseError : public std::runtime_error {
 public:
  explicit TarnbaseError(const std::string& what) : std::runtime_error(what) {}
};

void SetDBPath(const char* path);
// Runs an INSERT, UPDATE, DELETE or other statement; returns the number of
// rows it changed.
int32_t SendSQLString(const char* statement);
// Runs a SELECT and fills `results`; returns the number of rows.
int32_t Select(const char* statement, CVistaResults& results);

// Starts a unit of work; throws like a statement when the write lock cannot
// be had or a unit is already open.
void BeginTransaction();
// Stores the open unit; throws when it cannot (the unit is then still open,
// to be rolled back).
void CommitTransaction();
// Undoes the open unit, if there is one. Never throws.
void RollbackTransaction() noexcept;

// Closes the connection; the next statement opens it again. For tests and
// orderly shutdown.
void TarnbaseClose();
