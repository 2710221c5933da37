// A result set: the column names and every row of one SELECT, all as text,
// filled by the database library and walked by the program. This header is
// the library's contract with the program; nothing here throws beyond what a
// row receiver throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// OLE DB's "no current row" status.
inline constexpr int32_t DB_S_ENDOFROWSET = 0x00040EC6;

// The library fills it during Select (BeginFill, then AddRow for each row);
// the program walks it with MoveFirst/MoveNext and reads columns, numbered
// from 1, with GetField. Values come back with their line breaks normalised.
class CVistaResults {
 public:
  // Gets the texts of one row, one per column, line breaks normalised; they
  // are valid during the call only.
  using RowReceiver = std::function<void(std::span<const std::string_view>)>;

  CVistaResults();
  virtual ~CVistaResults() = default;
  CVistaResults(const CVistaResults&) = delete;
  CVistaResults& operator=(const CVistaResults&) = delete;

  // 0 and the first row current, or DB_S_ENDOFROWSET when no rows are kept
  // (none were read, or all went to a receiver; the cursor is then left as
  // it was).
  int32_t MoveFirst();
  // 0 when a next row became current; DB_S_ENDOFROWSET past the last row or
  // when there are no rows.
  int32_t MoveNext();
  // The text of column `column` (from 1) of the current row, line breaks
  // normalised; empty for a column beyond the column count or when no row is
  // current.
  std::string GetField(int32_t column) const;
  // From the next Select on, every row goes to `receiver` (what
  // GetField(1..ColumnCount()) would give) as it is read, instead of being
  // kept; the row count still counts them. A table of a million rows then
  // never sits in memory twice, once here and once in the objects built from
  // it. An empty receiver keeps rows again.
  void ReceiveRows(RowReceiver receiver);
  // Empties names and rows so the object can take another Select.
  void Reset();

  // Used by the database interface library (defined here: the library calls
  // them and does not link this program's code). BeginFill replaces
  // everything with the given column names and no rows; AddRow appends the
  // texts of one row, as read, one per name (missing ones read as empty,
  // extra ones are left out), or hands them to the receiver.
  void BeginFill(std::vector<std::string> columnNames) {
    m_columnNames = std::move(columnNames);
    m_columnCount = static_cast<int32_t>(m_columnNames.size());
    m_text.clear();
    m_ends.clear();
    m_rowCount = 0;
    m_row = 0;
    m_columnCursor = m_columnNames.begin();
  }
  void AddRow(std::span<const std::string_view> cells) {
    if (m_columnNames.empty()) return;
    ++m_rowCount;
    m_row = m_rowCount;
    if (m_receiver) {
      m_receiver(cells);
      return;
    }
    for (std::size_t i = 0; i < m_columnNames.size(); ++i) {
      if (i < cells.size()) m_text.append(cells[i]);
      m_ends.push_back(m_text.size());
    }
  }

  int32_t ColumnCount() const { return m_columnCount; }
  const std::vector<std::string>& ColumnNames() const { return m_columnNames; }
  size_t RowCount() const { return m_rowCount; }

 private:
  // The rows are kept as one text, cell after cell, with the end of each
  // cell: a result set of a hundred thousand rows then costs no allocation
  // per row or per cell.
  std::vector<std::string> m_columnNames;
  // Kept in the layout the database library is built against: set to the
  // first name on every fill and reset, and read by nothing here.
  std::vector<std::string>::iterator m_columnCursor;
  std::string m_text;
  std::vector<size_t> m_ends;  // ColumnCount() per row
  size_t m_rowCount = 0;
  size_t m_row = 0;  // the current row; m_rowCount when there is none
  int32_t m_columnCount = 0;
  RowReceiver m_receiver;
};
