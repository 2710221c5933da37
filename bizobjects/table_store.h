// The chain every workflow builds over one table: the table's database
// decorator wrapping its log decorator, so that each load and save runs the
// table's statements and then traces the collection.
#pragma once

#include <memory>
#include <ostream>

#include "bizobjects/database_decorators.h"
#include "bizobjects/log_decorators.h"

// The named decorator classes of each persisted entity, so that a chain can be
// built from the collection alone.
template <class Element>
struct DecoratorsOf;
#define LV_DECORATORS_OF(Entity)                   \
  template <>                                      \
  struct DecoratorsOf<Entity> {                    \
    using Database = Entity##DatabaseDecorator;    \
    using Log = Entity##LogDecorator;              \
  };
LV_PERSISTED_ENTITIES(LV_DECORATORS_OF)
#undef LV_DECORATORS_OF

// The database decorator of `collection`'s table over its log decorator,
// which traces to `trace`. The connection, the collection and the stream are
// the caller's and must outlive the result; it owns only the log decorator.
// Exceptions of the database layer pass through.
template <class Element>
typename DecoratorsOf<Element>::Database LoggedTableStore(CDBConnection* connection,
                                                          CBizObjectCollection<Element*>& collection,
                                                          std::ostream& trace) {
  using Decorators = DecoratorsOf<Element>;
  return typename Decorators::Database(std::make_unique<typename Decorators::Log>(nullptr, &trace, &collection),
                                       connection, &collection);
}

// Loads the whole table into `collection` through LoggedTableStore; the
// database decorator's answer.
template <class Element>
bool LoadTable(CDBConnection* connection, CBizObjectCollection<Element*>& collection, std::ostream& trace) {
  return LoggedTableStore(connection, collection, trace).load();
}
