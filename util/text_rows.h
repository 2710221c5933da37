// Rows of texts, each row's texts back to back in large chunks: how a
// collection keeps the rows a table load read until one of its elements is
// asked for. Reply intake reads a whole table for every reply and mostly
// only lists its keys, so the rows cost their bytes and nothing else, and go
// in one piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

class TextRows {
 public:
  // Rows of `columns` texts each.
  explicit TextRows(std::size_t columns = 0) : m_columns(columns) {}
  TextRows(TextRows&& other) noexcept;
  TextRows& operator=(TextRows&& other) noexcept;
  TextRows(const TextRows&) = delete;
  TextRows& operator=(const TextRows&) = delete;
  ~TextRows() { Clear(); }

  std::size_t Columns() const { return m_columns; }
  std::size_t Count() const { return m_rows.size(); }
  bool Empty() const { return m_rows.empty(); }
  // Room for `rows` rows without moving the row index.
  void Reserve(std::size_t rows) { m_rows.reserve(rows); }

  // Appends a copy of `values`, one text per column: std::invalid_argument
  // for another number of texts, std::length_error for more than 4 GiB in
  // one row (as an element refuses them), std::bad_alloc; nothing changes
  // then.
  void Append(std::span<const std::string_view> values);
  // The text of `column` in `row` (both from 0, unchecked), valid until
  // Clear or destruction.
  std::string_view Text(std::size_t row, std::size_t column) const {
    const char* record = m_rows[row];
    const std::uint32_t begin = column == 0 ? 0 : EndOf(record, column - 1);
    return std::string_view(record + m_columns * sizeof(std::uint32_t) + begin, EndOf(record, column) - begin);
  }

  // Forgets every row. The chunks are kept for the next rows of this
  // thread, the next load's, whose pages are then already there.
  void Clear() noexcept;

 private:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t size;
  };

  static std::uint32_t EndOf(const char* record, std::size_t column) {
    std::uint32_t end;
    __builtin_memcpy(&end, record + column * sizeof(end), sizeof(end));
    return end;
  }
  char* Room(std::size_t bytes);

  std::size_t m_columns;
  std::vector<const char*> m_rows;  // where each row begins: its ends, then its texts
  std::vector<Chunk> m_chunks;
  char* m_cursor = nullptr;  // the unused rest of the last chunk
  char* m_end = nullptr;
};
