// A result set: the column names and every row of one SELECT, all as text.
//
// The database interface library fills it during Select (through Fill); the
// program then walks it with MoveFirst/MoveNext and reads columns, numbered
// from 1, with GetField. Values come back with their line breaks normalised.
// Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// OLE DB's "no current row" status.
inline constexpr int32_t DB_S_ENDOFROWSET = 0x00040EC6;

class CVistaResults {
 public:
  CVistaResults();
  virtual ~CVistaResults() = default;
  CVistaResults(const CVistaResults&) = delete;
  CVistaResults& operator=(const CVistaResults&) = delete;

  // 0 and the first row current, or DB_S_ENDOFROWSET when there are no rows
  // (the cursor is then left as it was).
  int32_t MoveFirst();
  // 0 when a next row became current; DB_S_ENDOFROWSET past the last row or
  // when there are no rows.
  int32_t MoveNext();
  // The text of column `column` (from 1) of the current row, line breaks
  // normalised; empty for a column beyond the column count or when no row is
  // current.
  std::string GetField(int32_t column) const;
  // The texts of the current row, one per column, line breaks normalised in
  // place (what GetField(1..ColumnCount()) would give), for the caller to
  // move out: each row can be taken once. Empty when no row is current.
  std::span<std::string> TakeRow();
  // Empties names and rows so the object can take another Select.
  void Reset();

  // Used by the database interface library: replaces everything with the
  // given names and the texts of every row, row after row, one per name (a
  // last row with texts missing is left out); the column count is the
  // number of names.
  // Defined here: the library calls it and does not link this program's code.
  void Fill(std::vector<std::string> columnNames, std::vector<std::string> cells) {
    m_columnNames = std::move(columnNames);
    m_cells = std::move(cells);
    m_columnCount = static_cast<int32_t>(m_columnNames.size());
    m_rowCount = m_columnNames.empty() ? 0 : m_cells.size() / m_columnNames.size();
    m_cells.resize(m_rowCount * m_columnNames.size());
    m_columnCursor = m_columnNames.begin();
    m_row = m_rowCount;
  }

  int32_t ColumnCount() const { return m_columnCount; }
  const std::vector<std::string>& ColumnNames() const { return m_columnNames; }
  size_t RowCount() const { return m_rowCount; }

 private:
  // The rows are kept as one run of texts, ColumnCount() per row: a result
  // set of a hundred thousand rows then costs no allocation per row.
  std::vector<std::string> m_columnNames;
  std::vector<std::string>::iterator m_columnCursor;
  std::vector<std::string> m_cells;
  size_t m_rowCount = 0;
  size_t m_row = 0;  // the current row; m_rowCount when there is none
  int32_t m_columnCount = 0;
};
