#include "tarnbase/tarnbase.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "tarnbase/vista_results.h"

namespace {

// The main application may be writing at the same moment: a statement waits
// this long for its lock before it fails.
constexpr int kBusyTimeoutMs = 5000;

struct State {
  std::string path;
  bool pathSet = false;
  sqlite3* db = nullptr;
  FILE* trace = nullptr;
  bool traceChecked = false;
};

State& TheState() {
  static State state;
  return state;
}

// A diagnostic switch: when the environment variable TARNBASE_TRACE names a
// file, every statement received by SendSQLString or Select is appended to it,
// followed by one line feed.
void TraceStatement(const char* statement) {
  State& s = TheState();
  if (!s.traceChecked) {
    s.traceChecked = true;
    const char* file = std::getenv("TARNBASE_TRACE");
    if (file && *file) s.trace = std::fopen(file, "ab");
  }
  if (s.trace) {
    std::fputs(statement, s.trace);
    std::fputc('\n', s.trace);
    std::fflush(s.trace);
  }
}

[[noreturn]] void Fail(sqlite3* db, int rc, const std::string& statement) {
  std::string message = "SQLite error " + std::to_string(rc) + " (" + sqlite3_errstr(rc) + ")";
  if (db) message += ": " + std::string(sqlite3_errmsg(db));
  message += " in statement: " + statement;
  throw TarnbaseError(message);
}

sqlite3* Connection() {
  State& s = TheState();
  if (s.db) return s.db;
  // SQLite would take an empty name as a private temporary database, which
  // would silently lose everything written to it.
  if (!s.pathSet || s.path.empty()) throw TarnbaseError("no database path has been set");
  sqlite3* db = nullptr;
  // A file another program holds for a moment fails to open with "unable to
  // open database file", which reads as missing or damaged: it is tried
  // again while that lasts, and named as in use when it lasts too long.
  platform::HeldFileWait wait;
  for (;;) {
    // The program calls the library from one thread only, so SQLite need not
    // lock the connection on every call (which costs more than reading a row).
    const int rc = sqlite3_open_v2(s.path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
      // SQLite falls back to reading only when the file cannot be opened
      // for writing, as while another program holds it: that is waited
      // out too, and only a file that stays so is used read-only (its
      // first write then fails and says why).
      if (sqlite3_db_readonly(db, "main") == 1 && wait.Next()) {
        sqlite3_close(db);
        db = nullptr;
        continue;
      }
      break;
    }
    const std::string reason = db ? std::string(sqlite3_errmsg(db)) : std::string(sqlite3_errstr(rc));
    sqlite3_close(db);
    db = nullptr;
    const int primary = rc & 0xFF;
    const bool held = (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) && platform::IsHeldByAnotherProgram(s.path);
    if (held && wait.Next()) continue;
    if (held) throw DatabaseInUseError("cannot open database '" + s.path + "': it is in use by another program");
    throw TarnbaseError("cannot open database '" + s.path + "': " + reason);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  s.db = db;
  return db;
}

struct StatementCloser {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// Prepares exactly one statement; a null result means the text held none.
StatementPtr PrepareOne(sqlite3* db, const char* statement) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, statement, -1, &raw, &tail);
  StatementPtr stmt(raw);
  if (rc != SQLITE_OK) Fail(db, rc, statement);
  // Whatever follows the first statement must be empty: blanks, semicolons
  // and comments prepare to nothing; anything else is a second statement.
  while (tail && *tail) {
    sqlite3_stmt* extra = nullptr;
    const char* next = nullptr;
    rc = sqlite3_prepare_v2(db, tail, -1, &extra, &next);
    StatementPtr guard(extra);
    if (rc != SQLITE_OK || extra != nullptr) {
      throw std::invalid_argument(std::string("refused: more than one SQL statement in: ") + statement);
    }
    if (next == tail) break;
    tail = next;
  }
  return stmt;
}

// NULL reads as the empty text; a BLOB as its bytes, numbers as SQLite
// renders them, both of which sqlite3_column_text gives as they are. The
// text is SQLite's own, valid until the statement steps on.
std::string_view ColumnText(sqlite3_stmt* stmt, int i) {
  const unsigned char* text = sqlite3_column_text(stmt, i);
  const int n = sqlite3_column_bytes(stmt, i);
  return text ? std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(n)) : std::string_view();
}

}  // namespace

void SetDBPath(const char* path) {
  State& s = TheState();
  if (s.db) {
    sqlite3_close(s.db);
    s.db = nullptr;
  }
  s.path = path ? path : "";
  s.pathSet = true;
  // The trace switch is read anew with every database path.
  if (s.trace) std::fclose(s.trace);
  s.trace = nullptr;
  s.traceChecked = false;
}

int32_t SendSQLString(const char* statement) {
  if (!statement) throw std::invalid_argument("refused: no SQL statement");
  TraceStatement(statement);
  sqlite3* db = Connection();
  StatementPtr stmt = PrepareOne(db, statement);
  if (!stmt) return 0;
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Fail(db, rc, statement);
  return sqlite3_changes(db);
}

int32_t Select(const char* statement, CVistaResults& results) {
  if (!statement) throw std::invalid_argument("refused: no SQL statement");
  TraceStatement(statement);
  sqlite3* db = Connection();
  StatementPtr stmt = PrepareOne(db, statement);
  std::vector<std::string> names;
  const int columns = stmt ? sqlite3_column_count(stmt.get()) : 0;
  names.reserve(static_cast<size_t>(columns));
  for (int i = 0; i < columns; ++i) {
    const char* name = sqlite3_column_name(stmt.get(), i);
    names.emplace_back(name ? name : "");
  }
  results.BeginFill(std::move(names));
  if (stmt) {
    // Each row goes to the result set straight from SQLite's texts: no
    // copy of its own per row or per cell on the way.
    std::vector<std::string_view> row(static_cast<size_t>(columns));
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      for (int i = 0; i < columns; ++i) row[static_cast<size_t>(i)] = ColumnText(stmt.get(), i);
      results.AddRow(row);
    }
    if (rc != SQLITE_DONE) {
      results.BeginFill({});  // no part of a failed result set is left to read
      Fail(db, rc, statement);
    }
  }
  return static_cast<int32_t>(results.RowCount());
}

namespace {

// Runs a transaction control text that has no rows. These are not statements
// of the program and are not traced. A unit that a dying process left open
// is undone by SQLite when the database is next opened.
void Control(const char* text) {
  sqlite3* db = Connection();
  StatementPtr stmt = PrepareOne(db, text);
  const int rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_DONE) Fail(db, rc, text);
}

}  // namespace

// IMMEDIATE: the write lock is taken (or waited for) before anything is
// written, so the statements of the unit never meet a lock half-way.
void BeginTransaction() { Control("BEGIN IMMEDIATE"); }

void CommitTransaction() { Control("COMMIT"); }

void RollbackTransaction() noexcept {
  State& s = TheState();
  if (!s.db || sqlite3_get_autocommit(s.db)) return;
  sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TarnbaseClose() {
  State& s = TheState();
  if (s.db) sqlite3_close(s.db);
  s.db = nullptr;
}
