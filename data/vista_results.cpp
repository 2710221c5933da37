#include "tarnbase/vista_results.h"

#include "util/text_files.h"

CVistaResults::CVistaResults() : m_columnCursor(m_columnNames.begin()) {}

int32_t CVistaResults::MoveFirst() {
  if (m_rowCount == 0) return DB_S_ENDOFROWSET;
  m_row = 0;
  return 0;
}

int32_t CVistaResults::MoveNext() {
  if (m_rowCount == 0) return DB_S_ENDOFROWSET;
  if (m_row != m_rowCount) ++m_row;
  return m_row == m_rowCount ? DB_S_ENDOFROWSET : 0;
}

std::string CVistaResults::GetField(int32_t column) const {
  if (column < 1 || column > m_columnCount || m_row == m_rowCount) return std::string();
  std::string value = m_cells[m_row * static_cast<size_t>(m_columnCount) + static_cast<size_t>(column - 1)];
  NormalizeLineBreaks(value);
  return value;
}

std::span<std::string> CVistaResults::TakeRow() {
  if (m_row == m_rowCount) return {};
  const auto columns = static_cast<size_t>(m_columnCount);
  const std::span<std::string> row(m_cells.data() + m_row * columns, columns);
  for (std::string& value : row) NormalizeLineBreaks(value);
  return row;
}

void CVistaResults::Reset() {
  m_columnNames.clear();
  m_cells.clear();
  m_rowCount = 0;
  m_columnCount = 0;
  m_columnCursor = m_columnNames.begin();
  m_row = 0;
}
