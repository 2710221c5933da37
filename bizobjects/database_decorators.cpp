#include "bizobjects/database_decorators.h"

#include <algorithm>
#include <cstddef>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "data/db_connection.h"
#include "data/row_walk.h"
#include "util/identifiers.h"

std::string EscapeQuotes(std::string value) {
  // Walk backwards so that inserting a quote never moves what is still to be
  // looked at; a pair of quotes counts as one already escaped.
  for (std::size_t i = value.size(); i-- > 0;) {
    if (value[i] != '\'') continue;
    if (i > 0 && value[i - 1] == '\'') {
      --i;
    } else {
      value.insert(i, 1, '\'');
    }
  }
  return value;
}

namespace {

void RequireValues(const TableShape& shape, std::span<const std::string_view> values) {
  if (values.size() != shape.columns.size() || shape.keyCount == 0 || shape.keyCount > values.size()) {
    throw std::invalid_argument("table " + std::string(shape.table) + " has " + std::to_string(shape.columns.size()) +
                                " columns, " + std::to_string(values.size()) + " values were given");
  }
}

// "Col1, Col2, ... Last  " as both the INSERT and the SELECT list it.
void WriteColumnList(std::ostream& sql, const TableShape& shape) {
  for (std::size_t i = 0; i < shape.columns.size(); ++i) {
    sql << shape.columns[i] << (i + 1 < shape.columns.size() ? ", " : "  ");
  }
}

// "WHERE Key = 'k' " and, for a two-column key, "AND Key2 = 'k2' ". Keys are
// not escaped like values: their quotes are doubled.
void WriteKeyCondition(std::ostream& sql, const TableShape& shape, std::span<const std::string_view> values) {
  sql << "WHERE ";
  for (std::size_t k = 0; k < shape.keyCount; ++k) {
    std::string key(values[k]);
    DoubleSingleQuotes(key);
    sql << (k > 0 ? "AND " : "") << shape.columns[k] << " = '" << key << "' ";
  }
}

}  // namespace

std::string UpdateStatement(const TableShape& shape, std::span<const std::string_view> values) {
  RequireValues(shape, values);
  std::ostringstream sql;
  sql << "UPDATE " << shape.table << " SET ";
  for (std::size_t i = 0; i < values.size(); ++i) {
    sql << shape.columns[i] << " = '" << EscapeQuotes(std::string(values[i])) << (i + 1 < values.size() ? "', " : "'  ");
  }
  WriteKeyCondition(sql, shape, values);
  return sql.str();
}

std::string InsertStatement(const TableShape& shape, std::span<const std::string_view> values) {
  RequireValues(shape, values);
  std::ostringstream sql;
  sql << "INSERT INTO " << shape.table << "(";
  WriteColumnList(sql, shape);
  sql << ")" << "VALUES " << "(";
  for (std::size_t i = 0; i < values.size(); ++i) {
    sql << "'" << EscapeQuotes(std::string(values[i])) << (i + 1 < values.size() ? "', " : "'");
  }
  sql << ")";
  return sql.str();
}

std::string DeleteStatement(const TableShape& shape, std::span<const std::string_view> values) {
  RequireValues(shape, values);
  std::ostringstream sql;
  sql << "DELETE FROM " << shape.table << " ";
  WriteKeyCondition(sql, shape, values);
  return sql.str();
}

std::string SelectStatement(const TableShape& shape) {
  std::ostringstream sql;
  sql << "SELECT ";
  WriteColumnList(sql, shape);
  sql << "FROM " << shape.table;
  return sql.str();
}

std::string SaveStatement(const TableShape& shape, ElementState state, std::span<const std::string_view> values) {
  switch (state) {
    case Modified:
      return UpdateStatement(shape, values);
    case New:
      return InsertStatement(shape, values);
    case Deleted:
      return DeleteStatement(shape, values);
    default:
      return std::string();
  }
}

void RunStatement(CDBConnection* connection, const std::string& statement) {
  CVistaResults results;
  RunWithResults(*connection, statement, results);
}

void ForEachTableRow(CDBConnection* connection, const TableShape& shape,
                     const std::function<void(std::span<const std::string_view>)>& onRow) {
  // Each row goes to `onRow` as the library reads it: the result set keeps
  // none of them, so a table is in memory once, as the elements built from it.
  std::vector<std::string_view> padded;
  ForEachRowAsRead(*connection, SelectStatement(shape), [&](std::span<const std::string_view> row) {
    if (row.size() == shape.columns.size()) {
      onRow(row);
    } else {  // the library gave other columns than asked for: missing ones read as empty
      padded.assign(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(std::min(row.size(), shape.columns.size())));
      padded.resize(shape.columns.size());
      onRow(padded);
    }
  });
}

void RequireConnection(CDBConnection* connection, const TableShape& shape) {
  if (!connection) {
    throw std::invalid_argument("database decorator for table " + std::string(shape.table) + ": no connection");
  }
}
