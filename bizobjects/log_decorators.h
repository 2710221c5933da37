// Log decorators: a trace of each business-object operation on a stream,
// naming the key of every element of the collection.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "bizobjects/bizobjects.h"

// Each of dump, save, load and validate first lets the inner decorator (if
// any) do the same, ignoring its result, then writes its trace and flushes the
// stream, so nothing of the trace waits in a buffer when the operation
// returns. Element states are not consulted. True; false, with nothing
// written, when there is no stream. Nothing throws beyond what the stream
// throws.
template <class Element>
class CLogDecorator : public CBizObjectDecorator {
 public:
  using ElementType = Element;
  using Collection = CBizObjectCollection<Element*>;

  // Takes ownership of `inner` (may be null). `stream` and `collection` are
  // not owned and must outlive the decorator's use; without a collection the
  // trace is the heading alone.
  CLogDecorator(CBizObject* inner, std::ostream* stream, Collection* collection)
      : CBizObjectDecorator(inner), m_stream(stream), m_collection(collection) {}
  CLogDecorator(std::unique_ptr<CBizObject> inner, std::ostream* stream, Collection* collection)
      : CBizObjectDecorator(std::move(inner)), m_stream(stream), m_collection(collection) {}

  bool dump() override { return Log(&CBizObject::dump, "CCoreValue::dump() "); }
  bool save() override { return Log(&CBizObject::save, "CCoreValue::save() "); }
  bool load() override { return Log(&CBizObject::load, "CCoreValue::load() "); }
  bool validate() override { return Log(&CBizObject::validate, "CCoreValue::validate() "); }

 private:
  // A trace lists every element of the collection, a hundred thousand lines
  // and more for a table of answers; one write per line (and a flush per
  // line) would cost more than reading the table.
  static constexpr std::size_t kPieceSize = 64 * 1024;

  // The heading "CCoreValue::<operation>() ", then per element of the
  // collection, in order, one line per key column ("PersonID = " + the key as
  // stored; a StrategyVisionXref writes its StrategyID line, then its VisionID
  // line). Every line ends with a line feed.
  bool Log(bool (CBizObject::*operation)(), const char* heading) {
    PassToInner(operation);
    if (!m_stream) return false;
    std::string lines = heading;
    lines += '\n';
    if (m_collection) {
      lines.reserve(kPieceSize + 256);
      // Read through the collection, which does not build the rows it
      // holds as read for that.
      for (std::size_t i = 0, count = m_collection->size(); i < count; ++i) {
        for (std::size_t key = 0; key < Element::kKeyCount; ++key) {
          lines += Element::kColumnNames[key];
          lines += " = ";
          lines += m_collection->Value(i, key);
          lines += '\n';
        }
        if (lines.size() >= kPieceSize) {
          m_stream->write(lines.data(), static_cast<std::streamsize>(lines.size()));
          lines.clear();
        }
      }
    }
    m_stream->write(lines.data(), static_cast<std::streamsize>(lines.size()));
    m_stream->flush();
    return true;
  }

  std::ostream* m_stream;    // not owned
  Collection* m_collection;  // not owned
};

// CPersonLogDecorator, CSurveyLogDecorator, ... CSettingsLogDecorator: one
// class per persisted entity.
#define LV_LOG_DECORATOR(Entity) LV_DECORATOR_CLASS(Entity, LogDecorator)
LV_PERSISTED_ENTITIES(LV_LOG_DECORATOR)
