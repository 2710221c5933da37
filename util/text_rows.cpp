#include "util/text_rows.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr std::size_t kChunkSize = 1024 * 1024;

// Chunks of kChunkSize given back by rows of this thread.
std::vector<std::unique_ptr<char[]>>& SpareChunks() {
  thread_local std::vector<std::unique_ptr<char[]>> spares;
  return spares;
}

}  // namespace

TextRows::TextRows(TextRows&& other) noexcept
    : m_columns(other.m_columns),
      m_rows(std::move(other.m_rows)),
      m_chunks(std::move(other.m_chunks)),
      m_cursor(std::exchange(other.m_cursor, nullptr)),
      m_end(std::exchange(other.m_end, nullptr)) {
  other.m_rows.clear();
  other.m_chunks.clear();
}

TextRows& TextRows::operator=(TextRows&& other) noexcept {
  if (this != &other) {
    Clear();
    m_columns = other.m_columns;
    m_rows.swap(other.m_rows);
    m_chunks.swap(other.m_chunks);
    m_cursor = std::exchange(other.m_cursor, nullptr);
    m_end = std::exchange(other.m_end, nullptr);
  }
  return *this;
}

void TextRows::Append(std::span<const std::string_view> values) {
  if (values.size() != m_columns) {
    throw std::invalid_argument("a row of " + std::to_string(values.size()) + " texts where there are " +
                                std::to_string(m_columns) + " columns");
  }
  const std::size_t endBytes = m_columns * sizeof(std::uint32_t);
  std::size_t total = 0;
  for (const std::string_view value : values) total += value.size();
  if (total > std::numeric_limits<std::uint32_t>::max() - endBytes) {
    throw std::length_error("element texts longer than 4 GiB in all");
  }
  // Nothing may fail once the row is written.
  if (m_rows.size() == m_rows.capacity()) m_rows.reserve(std::max<std::size_t>(16, 2 * m_rows.size()));
  char* record = Room(endBytes + total);
  char* chars = record + endBytes;
  std::uint32_t end = 0;
  for (std::size_t i = 0; i < m_columns; ++i) {
    if (!values[i].empty()) std::memcpy(chars + end, values[i].data(), values[i].size());
    end += static_cast<std::uint32_t>(values[i].size());
    std::memcpy(record + i * sizeof(end), &end, sizeof(end));
  }
  m_rows.push_back(record);
}

char* TextRows::Room(std::size_t bytes) {
  if (static_cast<std::size_t>(m_end - m_cursor) < bytes) {
    // A row larger than a chunk has one of its own; the rest of the last
    // chunk stays unused.
    Chunk chunk{nullptr, std::max(bytes, kChunkSize)};
    auto& spares = SpareChunks();
    if (m_chunks.size() == m_chunks.capacity()) m_chunks.reserve(std::max<std::size_t>(16, 2 * m_chunks.size()));
    if (chunk.size == kChunkSize && !spares.empty()) {
      chunk.bytes = std::move(spares.back());
      spares.pop_back();
    } else {
      chunk.bytes = std::make_unique_for_overwrite<char[]>(chunk.size);
    }
    m_cursor = chunk.bytes.get();
    m_end = m_cursor + chunk.size;
    m_chunks.push_back(std::move(chunk));
  }
  char* room = m_cursor;
  m_cursor += bytes;
  return room;
}

void TextRows::Clear() noexcept {
  auto& spares = SpareChunks();
  for (Chunk& chunk : m_chunks) {
    if (chunk.size != kChunkSize) continue;
    try {
      spares.push_back(std::move(chunk.bytes));
    } catch (const std::bad_alloc&) {
      // Not kept for later: it goes with the others below.
    }
  }
  m_chunks.clear();
  m_rows.clear();
  m_cursor = m_end = nullptr;
}
