#include "data/vista_results.h"

#include "util/text_files.h"

CVistaResults::CVistaResults() : m_columnCursor(m_columnNames.begin()), m_rowCursor(m_rows.end()) {}

int32_t CVistaResults::MoveFirst() {
  if (m_rows.empty()) return DB_S_ENDOFROWSET;
  m_rowCursor = m_rows.begin();
  return 0;
}

int32_t CVistaResults::MoveNext() {
  if (m_rows.empty()) return DB_S_ENDOFROWSET;
  if (m_rowCursor != m_rows.end()) ++m_rowCursor;
  return m_rowCursor == m_rows.end() ? DB_S_ENDOFROWSET : 0;
}

std::string CVistaResults::GetField(int32_t column) const {
  if (column < 1 || column > m_columnCount || m_rowCursor == m_rows.end()) return std::string();
  const Row& row = *m_rowCursor;
  if (static_cast<size_t>(column) > row.size()) return std::string();
  std::string value = row[static_cast<size_t>(column - 1)];
  NormalizeLineBreaks(value);
  return value;
}

CVistaResults::Row CVistaResults::TakeRow() {
  if (m_rowCursor == m_rows.end()) return Row();
  Row row = std::move(*m_rowCursor);
  row.resize(static_cast<size_t>(m_columnCount));
  for (std::string& value : row) NormalizeLineBreaks(value);
  return row;
}

void CVistaResults::Reset() {
  m_columnNames.clear();
  m_rows.clear();
  m_columnCount = 0;
  m_columnCursor = m_columnNames.begin();
  m_rowCursor = m_rows.end();
}
