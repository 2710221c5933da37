// The database interface library: every SQL statement of LvMAPI goes through
// it. It is backed by SQLite, the database being one file, and is called from
// one thread only.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class CVistaResults;

// A failure inside SQLite; the text names SQLite's error and the statement.
class TarnbaseError : public std::runtime_error {
 public:
  explicit TarnbaseError(const std::string& what) : std::runtime_error(what) {}
};

// The database file could not be opened because another program (a virus
// scanner, a backup or sync tool) held it all the while it was tried, some
// seconds: nothing was changed, and a later run can do the work.
class DatabaseInUseError : public TarnbaseError {
 public:
  using TarnbaseError::TarnbaseError;
};

// The three calls the application itself makes are exported under their
// plain names, the names the application looks them up by.
extern "C" {

// Names the database file, before any statement. The file is opened
// read-write on first use and never created: a missing file is a failure,
// not a new empty database.
void SetDBPath(const char* path);

// Both take exactly one statement: a text holding more is refused with
// std::invalid_argument before SQLite runs it; every other failure throws
// TarnbaseError. A statement waits at least five seconds for a lock that
// another process holds.
// Runs an INSERT, UPDATE, DELETE or other statement; returns the number of
// rows it changed.
int32_t SendSQLString(const char* statement);
// Runs a SELECT and fills `results` with the column names and every row as
// text (NULL as the empty text, numbers as SQLite renders them); returns the
// number of rows.
int32_t Select(const char* statement, CVistaResults& results);

}  // extern "C"

// A unit of work: the statements between Begin and Commit are stored whole or
// not at all, also when the process dies before the commit.
// Starts a unit, taking the write lock at once (waiting like a statement);
// throws like a statement when the lock cannot be had or a unit is already
// open.
void BeginTransaction();
// Stores the open unit; throws when it cannot (the unit is then still open,
// to be rolled back).
void CommitTransaction();
// Undoes the open unit, if there is one. Never throws.
void RollbackTransaction() noexcept;

// Closes the connection; the next statement opens it again. For tests and
// orderly shutdown.
void TarnbaseClose();
