// Running one statement the way every query of the program does: a fresh
// result set and command on the caller's connection. The rows of a SELECT are
// then walked from the first one, or handed on as the library reads them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "data/db_connection.h"
#include "tarnbase/vista_results.h"
#include "util/identifiers.h"

// Runs `sql` on `connection` (the caller's, and it stays open) with `results`
// attached. A failing statement throws out of the gateway, after the database
// error log entry.
inline void RunWithResults(CDBConnection& connection, const std::string& sql, CVistaResults& results) {
  CDBCommand command(&connection, sql);
  command.SetResults(&results);
  command.Execute();
}

// Runs `sql` and hands `onRow` the texts of each row as the library reads
// them, valid during the call only; nothing is kept, so a whole table is in
// memory only as what `onRow` builds from it. Whatever `onRow` throws passes
// through.
inline void ForEachRowAsRead(CDBConnection& connection, const std::string& sql,
                             const CVistaResults::RowReceiver& onRow) {
  CVistaResults results;
  results.ReceiveRows(onRow);
  RunWithResults(connection, sql, results);
}

// Runs `sql` and calls `onRow` with the result set positioned on each row, in
// the order the library returned them. An `onRow` that returns bool ends the
// walk by answering false. The connection is the caller's and stays open. A
// failing statement throws out of the gateway (after the database error log
// entry) before any row is handed on; whatever `onRow` throws passes through.
template <class OnRow>
void ForEachResultRow(CDBConnection& connection, const std::string& sql, OnRow&& onRow) {
  CVistaResults results;
  RunWithResults(connection, sql, results);
  for (int32_t status = results.MoveFirst(); status >= 0 && status != DB_S_ENDOFROWSET; status = results.MoveNext()) {
    if constexpr (std::is_same_v<std::invoke_result_t<OnRow&, const CVistaResults&>, bool>) {
      if (!onRow(static_cast<const CVistaResults&>(results))) return;
    } else {
      onRow(static_cast<const CVistaResults&>(results));
    }
  }
}

// The first column of the first row of `sql` that names the same GUID as
// `id` (braces and letter case ignored, as everywhere identifiers are
// compared), as the database spells it; none when no row does: whether a row
// that a reply refers to is still in the database.
inline std::optional<std::string> RowNamed(CDBConnection& connection, const std::string& sql, const std::string& id) {
  std::optional<std::string> named;
  ForEachResultRow(connection, sql, [&](const CVistaResults& row) {
    if (SameGuid(row.GetField(1), id)) named = row.GetField(1);
    return !named;
  });
  return named;
}
