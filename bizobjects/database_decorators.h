// Database decorators: load a whole table into a collection, and save a
// collection back one statement per element.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bizobjects/bizobjects.h"

class CDBConnection;

// Gives every run of single quotes of odd length one more quote; runs of even
// length count as already escaped. Nothing else changes.
std::string EscapeQuotes(std::string value);

// What the statements of one table are made of: the table name, its columns
// in order, and how many leading columns address a row.
struct TableShape {
  std::string_view table;
  std::span<const std::string_view> columns;
  std::size_t keyCount;
};

template <class Element>
constexpr TableShape ShapeOf() {
  return TableShape{Element::kTable, Element::kColumnNames, Element::kKeyCount};
}

// The statements, from the shape and an element's values in column order.
// Values between quotes go through EscapeQuotes; key values in a WHERE clause
// have every quote doubled instead.
std::string UpdateStatement(const TableShape& shape, std::span<const std::string_view> values);
std::string InsertStatement(const TableShape& shape, std::span<const std::string_view> values);
std::string DeleteStatement(const TableShape& shape, std::span<const std::string_view> values);
std::string SelectStatement(const TableShape& shape);
// The statement that saving an element in `state` runs; empty for none.
std::string SaveStatement(const TableShape& shape, ElementState state, std::span<const std::string_view> values);
// True when saving an element in `state` runs a statement.
constexpr bool StateNeedsStatement(ElementState state) {
  return state == Modified || state == New || state == Deleted;
}

// Runs `statement` on `connection` with its own command and result set.
void RunStatement(CDBConnection* connection, const std::string& statement);
// Runs the table's SELECT and calls `onRow` with columns 1..n of each row as
// it is read (the texts are valid during the call only).
void ForEachTableRow(CDBConnection* connection, const TableShape& shape,
                     const std::function<void(std::span<const std::string_view>)>& onRow);
// Throws std::invalid_argument naming the table when `connection` is null.
void RequireConnection(CDBConnection* connection, const TableShape& shape);

// The inner decorator is owned; the connection and the collection are not.
// Every operation first lets the inner decorator do the same (its result
// ignored). A failing statement throws out of the gateway (after the database
// error log entry and alert) and leaves save or load at once. A decorator
// with a collection but no connection throws std::invalid_argument before
// touching the collection.
template <class Element>
class CDatabaseDecorator : public CBizObjectDecorator {
 public:
  using ElementType = Element;
  using Collection = CBizObjectCollection<Element*>;

  // Takes ownership of `inner` (may be null).
  CDatabaseDecorator(CBizObject* inner, CDBConnection* connection, Collection* collection)
      : CBizObjectDecorator(inner), m_connection(connection), m_collection(collection) {}
  CDatabaseDecorator(std::unique_ptr<CBizObject> inner, CDBConnection* connection, Collection* collection)
      : CBizObjectDecorator(std::move(inner)), m_connection(connection), m_collection(collection) {}

  // dump and validate have nothing to do here: false.
  bool dump() override {
    PassToInner(&CBizObject::dump);
    return false;
  }

  // Walks the collection in order: Modified gives an UPDATE, New an INSERT,
  // Deleted a DELETE (the element stays in the collection), Unset and Clean
  // nothing; each statement runs at once, and the element is then Clean.
  // After a failing statement the elements before it are written and Clean,
  // the rest keep their states. False without a collection.
  bool save() override {
    if (!Begin(&CBizObject::save)) return false;
    // Most elements of a loaded table are Clean and stay as they are: only
    // the others are written (in order) and set Clean. Rows the collection
    // has not built are Clean and not looked at; the others are looked at
    // last to first: the log decorator has just walked them first to last,
    // so its last ones are still in the cache.
    std::vector<Element*> pending;
    for (std::size_t i = m_collection->size(); i-- > m_collection->RowsNotBuilt();) {
      Element* element = (*m_collection)[i];
      if (element->GetObjectState() != Clean) pending.push_back(element);
    }
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
      Element* element = *it;
      if (StateNeedsStatement(element->GetObjectState())) {
        const std::string statement = SaveStatement(kShape, element->GetObjectState(), element->Views());
        if (!statement.empty()) RunStatement(m_connection, statement);
      }
      element->SetObjectState(Clean);
    }
    return true;
  }

  // Clears the collection and reads every row of the table with one SELECT
  // (no WHERE, no ORDER BY); the rows reach the collection (state Clean) only
  // once the SELECT has succeeded, so a failing one leaves it empty. False
  // without a collection.
  bool load() override {
    if (!Begin(&CBizObject::load)) return false;
    m_collection->clear();
    // The rows are kept as read, and handed to the collection once the
    // whole SELECT has succeeded: a SELECT failing half-way leaves the
    // collection empty. The collection builds elements of them only when
    // one is asked for.
    TextRows loaded(Element::kColumnCount);
    // A table is read again and again (once per reply by reply intake), with
    // about as many rows each time: room for as many as last time and a few
    // more places the row index once, where a vector doubling its way up to
    // a million would copy it over and over.
    loaded.Reserve(s_rowsLastRead + s_rowsLastRead / 16);
    ForEachTableRow(m_connection, kShape, [&loaded](std::span<const std::string_view> row) { loaded.Append(row); });
    s_rowsLastRead = loaded.Count();
    m_collection->load(std::move(loaded));
    return true;
  }

  bool validate() override {
    PassToInner(&CBizObject::validate);
    return false;
  }

 private:
  static constexpr TableShape kShape = ShapeOf<Element>();

  // Lets the inner decorator do `operation`, then tells whether there is a
  // collection to work on; one without a connection is refused.
  bool Begin(bool (CBizObject::*operation)()) {
    PassToInner(operation);
    if (!m_collection) return false;
    RequireConnection(m_connection, kShape);
    return true;
  }

  static inline thread_local std::size_t s_rowsLastRead = 0;  // by the last load of this table
  CDBConnection* m_connection;  // not owned
  Collection* m_collection;     // not owned
};

// CPersonDatabaseDecorator, CSurveyDatabaseDecorator, ...
// CSettingsDatabaseDecorator: one class per persisted entity.
#define LV_DATABASE_DECORATOR(Entity) LV_DECORATOR_CLASS(Entity, DatabaseDecorator)
LV_PERSISTED_ENTITIES(LV_DATABASE_DECORATOR)
