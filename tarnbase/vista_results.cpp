#include "tarnbase/vista_results.h"

#include "util/text_files.h"

CVistaResults::CVistaResults() : m_columnCursor(m_columnNames.begin()) {}

int32_t CVistaResults::MoveFirst() {
  if (m_rowCount == 0 || m_ends.empty()) return DB_S_ENDOFROWSET;
  m_row = 0;
  return 0;
}

int32_t CVistaResults::MoveNext() {
  if (m_rowCount == 0 || m_ends.empty()) return DB_S_ENDOFROWSET;
  if (m_row != m_rowCount) ++m_row;
  return m_row == m_rowCount ? DB_S_ENDOFROWSET : 0;
}

std::string CVistaResults::GetField(int32_t column) const {
  if (column < 1 || column > m_columnCount || m_row == m_rowCount || m_ends.empty()) return std::string();
  const size_t cell = m_row * static_cast<size_t>(m_columnCount) + static_cast<size_t>(column - 1);
  const size_t begin = cell == 0 ? 0 : m_ends[cell - 1];
  const std::string_view stored = std::string_view(m_text).substr(begin, m_ends[cell] - begin);
  if (!LineBreaksNeedNormalizing(stored)) return std::string(stored);
  std::string value;
  NormalizeLineBreaksInto(stored, value);
  return value;
}

void CVistaResults::ReceiveRows(RowReceiver receiver) {
  if (!receiver) {
    m_receiver = nullptr;
    return;
  }
  // Most texts need no normalising and are handed on as the library read
  // them; the others are normalised into buffers kept from row to row.
  m_receiver = [receiver = std::move(receiver), views = std::vector<std::string_view>(),
                normalised = std::vector<std::string>()](std::span<const std::string_view> cells) mutable {
    size_t first = 0;
    while (first < cells.size() && !LineBreaksNeedNormalizing(cells[first])) ++first;
    if (first == cells.size()) {  // the common row: handed on as read, not copied
      receiver(cells);
      return;
    }
    views.assign(cells.begin(), cells.end());
    if (normalised.size() < views.size()) normalised.resize(views.size());
    for (size_t i = first; i < views.size(); ++i) {
      if (i > first && !LineBreaksNeedNormalizing(views[i])) continue;
      NormalizeLineBreaksInto(views[i], normalised[i]);
      views[i] = normalised[i];
    }
    receiver(views);
  };
}

void CVistaResults::Reset() {
  m_columnNames.clear();
  m_text.clear();
  m_ends.clear();
  m_rowCount = 0;
  m_columnCount = 0;
  m_columnCursor = m_columnNames.begin();
  m_row = 0;
}
