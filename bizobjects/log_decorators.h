// Log decorators: a trace of each business-object operation on a stream.
//
// Contract: each of dump, save, load and validate first lets the inner
// decorator (if any) do the same operation, ignoring its result, then writes
// the heading "CCoreValue::<operation>() " and, for every element of the
// collection in order, one line per key column ("PersonID = " + the key as
// stored; a StrategyVisionXref writes its StrategyID line and then its
// VisionID line). Every line ends with std::endl (a line feed and a flush).
// Element states are not consulted. The result is true; it is false, with
// nothing written, only when the decorator was given no stream. A decorator
// without a collection writes the heading alone. The inner decorator is owned;
// the stream and the collection are not, and must outlive the decorator's use.
// Nothing here throws beyond what the stream throws.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>

#include "bizobjects/bizobjects.h"

template <class Element>
class CLogDecorator : public CBizObjectDecorator {
 public:
  using ElementType = Element;
  using Collection = CBizObjectCollection<Element*>;

  // Takes ownership of `inner` (may be null).
  CLogDecorator(CBizObject* inner, std::ostream* stream, Collection* collection)
      : CBizObjectDecorator(inner), m_stream(stream), m_collection(collection) {}
  CLogDecorator(std::unique_ptr<CBizObject> inner, std::ostream* stream, Collection* collection)
      : CBizObjectDecorator(std::move(inner)), m_stream(stream), m_collection(collection) {}

  bool dump() override { return Log(&CBizObject::dump, "CCoreValue::dump() "); }
  bool save() override { return Log(&CBizObject::save, "CCoreValue::save() "); }
  bool load() override { return Log(&CBizObject::load, "CCoreValue::load() "); }
  bool validate() override { return Log(&CBizObject::validate, "CCoreValue::validate() "); }

 private:
  bool Log(bool (CBizObject::*operation)(), const char* heading) {
    PassToInner(operation);
    if (!m_stream) return false;
    *m_stream << heading << std::endl;
    if (!m_collection) return true;
    for (Element* element : *m_collection) {
      for (std::size_t key = 0; key < Element::kKeyCount; ++key) {
        *m_stream << Element::kColumnNames[key] << " = " << element->Value(key) << std::endl;
      }
    }
    return true;
  }

  std::ostream* m_stream;    // not owned
  Collection* m_collection;  // not owned
};

// CPersonLogDecorator, CSurveyLogDecorator, ... CSettingsLogDecorator: one
// class per persisted entity.
#define LV_LOG_DECORATOR(Entity) LV_DECORATOR_CLASS(Entity, LogDecorator)
LV_PERSISTED_ENTITIES(LV_LOG_DECORATOR)
