// The business object model: one element class per table, the typed
// collections that own them, and the decorator interface that persistence and
// tracing are added through.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "data/core.h"
#include "util/block_pool.h"
#include "util/text_rows.h"

enum ElementState : int32_t {
  Unset = 0,      // freshly constructed
  Clean = 5,      // matches the database: loaded, or saved
  New = 10,       // to be inserted on the next save (set by add)
  Modified = 15,  // to be updated on the next save (set by a changing setter)
  Deleted = 20,   // to be deleted on the next save (only ever set directly)
};

// One row of a table. Constructors leave the state Unset. GetObjectState and
// SetObjectState are not called GetState/SetState because CPerson has a
// State column.
class CBizObjectElement : public CLVCore {
 public:
  CBizObjectElement() = default;
  ~CBizObjectElement() override = default;

  ElementState GetObjectState() const { return m_state; }
  void SetObjectState(ElementState state) { m_state = state; }

 private:
  ElementState m_state = Unset;
};

// Which constructors an entity offers: the value constructor takes every
// field in column order; the default constructor leaves every field empty.
enum class EntityConstructors { Value, Default, ValueAndDefault };

// The storage and the rules shared by every entity class: N text fields in
// column order. Entity classes are declared with LV_DECLARE_ENTITY below,
// which adds the column table and the named accessors. Setters exist only for
// the fields set after construction and return true; a setter that stores a
// different text marks the element Modified, except that a New element stays
// New so that it is still inserted. More than 4 GiB of text in one element is
// refused with std::length_error.
//
// Reply intake builds a whole table of elements for every reply and walks it
// three times (trace, save, delete), so an element is kept to few bytes in
// one place: its N texts lie back to back in one block, after the end of
// each (16 bits while the texts are shorter than 64 KiB in all, else 32),
// and an element read from the database (FromRow) has that block right
// behind itself, in the same allocation. Every text empty: no block at all.
template <std::size_t N, EntityConstructors Kind>
class CEntityElement : public CBizObjectElement {
  using End = std::uint32_t;
  using ShortEnd = std::uint16_t;

 public:
  static constexpr std::size_t kColumnCount = N;

  // Elements and their texts live in the block pool: the elements of one
  // reply's tables take the blocks the previous reply's gave back.
  static void* operator new(std::size_t size) { return block_pool::Allocate(size); }
  // Only for a new-expression whose constructor throws.
  static void operator delete(void* element, std::size_t size) noexcept { block_pool::Release(element, size); }
  // Every delete, through any base: the block goes back with the room
  // behind the element that FromRow gave it.
  static void operator delete(CEntityElement* element, std::destroying_delete_t) noexcept {
    const std::size_t bytes = sizeof(CEntityElement) + element->m_room;
    element->~CEntityElement();
    block_pool::Release(element, bytes);
  }

  CEntityElement()
    requires(Kind != EntityConstructors::Value)
  = default;

  // The value constructor: one text per column, in column order.
  template <class... Values>
    requires(Kind != EntityConstructors::Default && sizeof...(Values) == N &&
             (std::constructible_from<std::string, Values> && ...))
  CEntityElement(Values&&... values) {
    Take(std::array<std::string_view, N>{std::string_view(values)...});
  }

  // Builds the element from the texts of one row, in column order.
  explicit CEntityElement(std::span<const std::string_view, N> values)
    requires(Kind != EntityConstructors::Default)
  {
    Take(values);
  }

  CEntityElement(const CEntityElement&) = delete;
  CEntityElement& operator=(const CEntityElement&) = delete;
  ~CEntityElement() override {
    if (!TextsFollow()) ReleaseBlock();
  }

  // A new element of class `Element` (an entity of this shape) built from
  // the texts of one row, with its texts behind it in the same block: how
  // the database decorators load a table. std::length_error as above.
  template <class Element>
  static std::unique_ptr<Element> FromRow(std::span<const std::string_view, N> values)
    requires(Kind != EntityConstructors::Default)
  {
    static_assert(std::is_base_of_v<CEntityElement, Element> && sizeof(Element) == sizeof(CEntityElement),
                  "entities add no fields of their own");
    const std::size_t total = TextBytes(values);
    const std::size_t room = BlockBytes(total);
    if (room > kMaxRoom) return std::make_unique<Element>(values);  // texts of their own
    void* memory = block_pool::Allocate(sizeof(CEntityElement) + room);
    return std::unique_ptr<Element>(::new (memory) Element(Room(static_cast<End>(room), Wide(total)), values));
  }

  // The text of column `column` (from 0, in column order); it stays valid
  // until a setter changes the element or the element goes.
  // std::out_of_range beyond the last column.
  std::string_view Value(std::size_t column) const {
    if (column >= N) throw std::out_of_range("column " + std::to_string(column) + " of " + std::to_string(N));
    if (!m_texts) return std::string_view();
    const End begin = column == 0 ? 0 : EndOf(column - 1);
    return std::string_view(Chars() + begin, EndOf(column) - begin);
  }
  // Every text, in column order, valid as Value's are.
  std::array<std::string_view, N> Views() const {
    std::array<std::string_view, N> views;
    End begin = 0;
    for (std::size_t i = 0; i < N; ++i) {
      const End end = m_texts ? EndOf(i) : 0;
      views[i] = std::string_view(m_texts ? Chars() + begin : nullptr, end - begin);
      begin = end;
    }
    return views;
  }
  // A copy of every text, in column order.
  std::array<std::string, N> Values() const {
    std::array<std::string, N> values;
    const std::array<std::string_view, N> views = Views();
    for (std::size_t i = 0; i < N; ++i) values[i] = std::string(views[i]);
    return values;
  }

  // Built by FromRow only: the texts go into the `room` bytes behind the
  // element, which FromRow allocated with it.
  class Room {
    friend class CEntityElement;
    Room(End bytes, bool wide) : m_bytes(bytes), m_wide(wide) {}
    End m_bytes;
    bool m_wide;
  };
  CEntityElement(Room room, std::span<const std::string_view, N> values) noexcept
      : m_room(room.m_bytes), m_wideEnds(room.m_wide) {
    m_texts = reinterpret_cast<char*>(this) + sizeof(CEntityElement);
    WriteBlock(m_texts, m_wideEnds, values);
  }

 protected:
  // The one write rule of every setter. The texts move to a block of their
  // own (the room behind a loaded element stays unused until it goes).
  bool SetValue(std::size_t column, std::string value) {
    if (Value(column) == value) return true;
    std::array<std::string_view, N> views = Views();
    views[column] = value;
    Take(views);  // refused before anything changes
    if (GetObjectState() != New) SetObjectState(Modified);
    return true;
  }

 private:
  // FromRow's room is counted in 31 bits; more goes to a block of its own.
  static constexpr std::size_t kMaxRoom = (std::size_t{1} << 31) - 1;

  static std::size_t TextBytes(std::span<const std::string_view, N> values) {
    std::size_t total = 0;
    for (const std::string_view value : values) total += value.size();
    if (total > std::numeric_limits<End>::max() - N * sizeof(End)) {
      throw std::length_error("element texts longer than 4 GiB in all");
    }
    return total;
  }
  static bool Wide(std::size_t textBytes) { return textBytes > std::numeric_limits<ShortEnd>::max(); }
  static std::size_t EndBytes(bool wide) { return wide ? sizeof(End) : sizeof(ShortEnd); }
  // The block's size for texts of `textBytes` in all: their ends, then the texts.
  static std::size_t BlockBytes(std::size_t textBytes) { return N * EndBytes(Wide(textBytes)) + textBytes; }

  template <class EndType>
  static void WriteBlockWith(char* block, std::span<const std::string_view, N> values) noexcept {
    char* chars = block + N * sizeof(EndType);
    EndType end = 0;
    for (std::size_t i = 0; i < N; ++i) {
      if (!values[i].empty()) std::memcpy(chars + end, values[i].data(), values[i].size());
      end = static_cast<EndType>(end + values[i].size());
      std::memcpy(block + i * sizeof(EndType), &end, sizeof(EndType));
    }
  }
  static void WriteBlock(char* block, bool wide, std::span<const std::string_view, N> values) noexcept {
    if (wide) {
      WriteBlockWith<End>(block, values);
    } else {
      WriteBlockWith<ShortEnd>(block, values);
    }
  }
  // A block of its own for `values` (`wide` tells its ends); none when every
  // text is empty.
  static char* NewBlock(std::span<const std::string_view, N> values, bool& wide) {
    const std::size_t total = TextBytes(values);
    wide = Wide(total);
    if (total == 0) return nullptr;
    char* block = static_cast<char*>(block_pool::Allocate(BlockBytes(total)));
    WriteBlock(block, wide, values);
    return block;
  }
  // Gives the element a block of its own for `values`, in place of the one
  // it has.
  void Take(std::span<const std::string_view, N> values) {
    bool wide = false;
    char* texts = NewBlock(values, wide);
    if (!TextsFollow()) ReleaseBlock();
    m_texts = texts;
    m_wideEnds = wide;
  }
  void ReleaseBlock() noexcept {
    if (m_texts) block_pool::Release(m_texts, BlockBytes(EndOf(N - 1)));
  }

  End EndOf(std::size_t column) const {
    if (m_wideEnds) {
      End end;
      std::memcpy(&end, m_texts + column * sizeof(End), sizeof(End));
      return end;
    }
    ShortEnd end;
    std::memcpy(&end, m_texts + column * sizeof(ShortEnd), sizeof(ShortEnd));
    return end;
  }
  const char* Chars() const { return m_texts + N * EndBytes(m_wideEnds); }
  bool TextsFollow() const {
    return m_room != 0 && m_texts == reinterpret_cast<const char*>(this) + sizeof(CEntityElement);
  }

  End m_room : 31 = 0;        // bytes behind the element that are its own (FromRow)
  End m_wideEnds : 1 = 0;     // the ends are 32 bits wide, else 16
  char* m_texts = nullptr;    // the ends, then the texts; none when all are empty
};

// A typed collection over the element pointer type (CBizObjectCollection<CPerson*>).
// It owns its elements: add and load take ownership, and a null element is
// refused with std::invalid_argument, nothing changed. Each operation appends
// its name to the collection's trace text, printed to standard output as one
// line when the collection is destroyed. Element pointers stay valid until
// clear or destruction.
//
// The rows a table load hands over (load of TextRows) are kept as their
// texts, and become elements only when an element of the collection is first
// asked for (iteration, at, or [] below their count): reply intake loads a
// table of a million answers for every reply only to list their keys (Value)
// and save the few rows it adds, and a row that is never built costs its
// texts alone, with nothing to walk or free one by one. Until then such a row
// is Clean (nothing can change it) and has no trace, as its element would be.
template <class ElementPtr>
class CBizObjectCollection : public CLVCore {
  static_assert(std::is_pointer_v<ElementPtr>, "a collection is declared over the element pointer type");

 public:
  using Element = std::remove_pointer_t<ElementPtr>;
  static_assert(std::is_base_of_v<CBizObjectElement, Element>, "collections hold business elements");
  static constexpr std::size_t kInitialRoom = 10;

  // Walks the elements in insertion order, yielding element pointers.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ElementPtr;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ElementPtr;

    const_iterator() = default;
    ElementPtr operator*() const { return m_slot->get(); }
    const_iterator& operator++() {
      ++m_slot;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++m_slot;
      return before;
    }
    bool operator==(const const_iterator&) const = default;

   private:
    friend class CBizObjectCollection;
    using Slot = typename std::vector<std::unique_ptr<Element>>::const_iterator;
    explicit const_iterator(Slot slot) : m_slot(slot) {}
    Slot m_slot{};
  };
  using iterator = const_iterator;

  CBizObjectCollection() { m_elements.reserve(kInitialRoom); }
  ~CBizObjectCollection() override { clear(); }
  CBizObjectCollection(const CBizObjectCollection&) = delete;
  CBizObjectCollection& operator=(const CBizObjectCollection&) = delete;

  // Takes ownership of a row that is to be inserted: state New, appended.
  bool add(ElementPtr element) { return add(std::unique_ptr<Element>(element)); }
  bool add(std::unique_ptr<Element> element) {
    return Append(std::move(element), "CBizObjectCollection::add()", New);
  }
  // Takes ownership of a row read from the database: state Clean, appended.
  bool load(ElementPtr element) { return load(std::unique_ptr<Element>(element)); }
  bool load(std::unique_ptr<Element> element) {
    return Append(std::move(element), "CBizObjectCollection::load()", Clean);
  }
  // Takes ownership of rows read from the database, in order, as load does
  // one by one; a null one is refused before anything changes.
  bool load(std::vector<std::unique_ptr<Element>> elements) {
    for (const auto& element : elements) {
      if (!element) throw std::invalid_argument("CBizObjectCollection::load(): no element given");
    }
    Trace("CBizObjectCollection::load()", elements.size());
    for (const auto& element : elements) element->SetObjectState(Clean);
    // An empty collection takes the rows' own vector (when it has as much
    // room), instead of copying a million pointers into a second one.
    if (m_elements.empty() && elements.capacity() >= m_elements.capacity()) {
      m_elements.swap(elements);
    } else {
      m_elements.insert(m_elements.end(), std::make_move_iterator(elements.begin()),
                        std::make_move_iterator(elements.end()));
    }
    return true;
  }
  // Takes the rows a table load read, in order, as load does one by one
  // with the elements built from them (state Clean); std::invalid_argument
  // for rows of another column count, nothing changed.
  bool load(TextRows rows)
    requires requires(std::span<const std::string_view, Element::kColumnCount> row) {
      Element::template FromRow<Element>(row);
    }
  {
    if (rows.Columns() != Element::kColumnCount) {
      throw std::invalid_argument("CBizObjectCollection::load(): rows of " + std::to_string(rows.Columns()) +
                                  " columns for elements of " + std::to_string(Element::kColumnCount));
    }
    Trace("CBizObjectCollection::load()", rows.Count());
    if (empty()) {
      m_rows = std::move(rows);
    } else {  // behind elements already held: built now, so that the rows stay first
      Build();
      BuildInto(rows, m_elements);
    }
    return true;
  }
  // Deletes every element, first to last; the reserved room stays.
  void clear() {
    Trace("CBizObjectCollection::clear()");
    m_rows.Clear();  // rows never built have no element to delete
    for (auto& slot : m_elements) slot.reset();
    m_elements.clear();
  }

  const_iterator begin() const {
    Build();
    return const_iterator(m_elements.begin());
  }
  const_iterator end() const {
    Build();
    return const_iterator(m_elements.end());
  }
  std::size_t size() const { return m_rows.Count() + m_elements.size(); }
  std::size_t Count() const { return size(); }
  bool empty() const { return size() == 0; }
  std::size_t capacity() const { return m_rows.Count() + m_elements.capacity(); }
  // The element at `index` (from 0); std::out_of_range beyond the last one.
  ElementPtr at(std::size_t index) const {
    if (index >= size()) throw std::out_of_range("element " + std::to_string(index) + " of " + std::to_string(size()));
    return (*this)[index];
  }
  ElementPtr operator[](std::size_t index) const {
    if (index < m_rows.Count()) Build();
    return m_elements[index - m_rows.Count()].get();
  }
  // The text of `column` of the element at `index` (both from 0, `index`
  // unchecked), valid as the element's Value is; a loaded row not yet built
  // stays so.
  std::string_view Value(std::size_t index, std::size_t column) const {
    if (index < m_rows.Count()) {
      if (column >= Element::kColumnCount) {  // as the element would refuse it
        throw std::out_of_range("column " + std::to_string(column) + " of " + std::to_string(Element::kColumnCount));
      }
      return m_rows.Text(index, column);
    }
    return m_elements[index - m_rows.Count()]->Value(column);
  }
  // How many of the first elements are loaded rows not yet built: all
  // Clean, since nothing can reach them to change them.
  std::size_t RowsNotBuilt() const { return m_rows.Count(); }

 private:
  // Appends an element built from each of `rows`, in order, state Clean.
  static void BuildInto(const TextRows& rows, std::vector<std::unique_ptr<Element>>& elements) {
    elements.reserve(elements.size() + rows.Count());
    std::array<std::string_view, Element::kColumnCount> views;
    for (std::size_t r = 0; r < rows.Count(); ++r) {
      for (std::size_t c = 0; c < views.size(); ++c) views[c] = rows.Text(r, c);
      elements.push_back(
          Element::template FromRow<Element>(std::span<const std::string_view, Element::kColumnCount>(views)));
      elements.back()->SetObjectState(Clean);
    }
  }
  // Builds the rows not yet built, in front of the elements; nothing
  // changes when that fails.
  void Build() const {
    if constexpr (requires(std::span<const std::string_view, Element::kColumnCount> row) {
                    Element::template FromRow<Element>(row);
                  }) {
      if (m_rows.Empty()) return;
      std::vector<std::unique_ptr<Element>> built;
      built.reserve(std::max(size(), m_elements.capacity()));
      BuildInto(m_rows, built);
      std::move(m_elements.begin(), m_elements.end(), std::back_inserter(built));
      m_elements.swap(built);
      m_rows.Clear();
    }
  }

  bool Append(std::unique_ptr<Element> element, const char* operation, ElementState state) {
    if (!element) throw std::invalid_argument(std::string(operation) + ": no element given");
    Trace(operation);
    element->SetObjectState(state);
    m_elements.push_back(std::move(element));
    return true;
  }

  // Built when first asked for, from const accessors too.
  mutable TextRows m_rows{Element::kColumnCount};           // the first elements, not yet built
  mutable std::vector<std::unique_ptr<Element>> m_elements;  // the others
};

// The four operations every decorator implements.
class CBizObject {
 public:
  virtual ~CBizObject() = default;
  virtual bool dump() = 0;
  virtual bool save() = 0;
  virtual bool load() = 0;
  virtual bool validate() = 0;
};

// Base of the database and log decorators. Each operation passes to the inner
// decorator and returns its result; without one it returns true. The inner
// decorator is owned and deleted with this one; the collection and any
// context never are. Exceptions of the database layer pass through.
class CBizObjectDecorator : public CBizObject {
 public:
  // Takes ownership of `inner` (may be null).
  explicit CBizObjectDecorator(CBizObject* inner) : m_inner(inner) {}
  explicit CBizObjectDecorator(std::unique_ptr<CBizObject> inner) : m_inner(std::move(inner)) {}
  ~CBizObjectDecorator() override = default;
  CBizObjectDecorator(const CBizObjectDecorator&) = delete;
  CBizObjectDecorator& operator=(const CBizObjectDecorator&) = delete;

  bool dump() override;
  bool save() override;
  bool load() override;
  bool validate() override;

  CBizObject* Inner() const { return m_inner.get(); }

 protected:
  // Lets the inner decorator (if any) do `operation`; its result is ignored.
  void PassToInner(bool (CBizObject::*operation)()) {
    if (m_inner) (m_inner.get()->*operation)();
  }

 private:
  std::unique_ptr<CBizObject> m_inner;
};

// ---------------------------------------------------------------------------
// Entity catalogue.
//
// Each entity is declared from one column table, X(Column, Access): the column
// name as the database spells it, which is also the field name (Get<Column>()
// reads it), and Get or GetSet (GetSet adds Set<Column>(std::string)). From the
// same table come the column names the decorators write (kColumnNames), the
// table name (kTable), and how many leading columns address a row (kKeyCount).
// LV_DECLARE_ENTITY(Class, ...) declares Class and its collection Class##s;
// LV_DECLARE_ELEMENT declares the class alone.

#define LV_ENTITY_COUNT_(Column, Access) +1
#define LV_ENTITY_INDEX_(Column, Access) Column,
#define LV_ENTITY_NAME_(Column, Access) std::string_view(#Column),
#define LV_ENTITY_SETTER_Get(Column)
#define LV_ENTITY_SETTER_GetSet(Column) \
  bool Set##Column(std::string value) { return SetValue(Columns::Column, std::move(value)); }
#define LV_ENTITY_ACCESSORS_(Column, Access)                         \
  std::string Get##Column() const { return std::string(Value(Columns::Column)); } \
  LV_ENTITY_SETTER_##Access(Column)

#define LV_DECLARE_ELEMENT(Class, Table, KeyCount, Kind, COLUMNS)                                    \
  class Class : public CEntityElement<0 COLUMNS(LV_ENTITY_COUNT_), EntityConstructors::Kind> {       \
   public:                                                                                           \
    using CEntityElement::CEntityElement;                                                            \
    struct Columns {                                                                                 \
      enum : std::size_t { COLUMNS(LV_ENTITY_INDEX_) };                                              \
    };                                                                                               \
    static constexpr std::string_view kTable = Table;                                                \
    static constexpr std::size_t kKeyCount = KeyCount;                                               \
    static constexpr std::array<std::string_view, kColumnCount> kColumnNames{COLUMNS(LV_ENTITY_NAME_)}; \
    COLUMNS(LV_ENTITY_ACCESSORS_)                                                                    \
  };                                                                                                 \
  static_assert(sizeof(Class) == sizeof(Class::CEntityElement), "entities add no fields of their own")

#define LV_DECLARE_ENTITY(Class, Table, KeyCount, Kind, COLUMNS) \
  LV_DECLARE_ELEMENT(Class, Table, KeyCount, Kind, COLUMNS);     \
  class Class##s : public CBizObjectCollection<Class*> {}

// Entities persisted through a database decorator and a log decorator.

#define LV_PERSON_COLUMNS(X)                                                                    \
  X(PersonID, Get) X(FirstName, Get) X(MiddleName, Get) X(LastName, Get) X(Email, Get)         \
  X(HomePhone, Get) X(WorkPhone, Get) X(OtherPhone, Get) X(Addr1, Get) X(Addr2, Get) X(City, Get) \
  X(State, Get) X(Zip, Get)
LV_DECLARE_ENTITY(CPerson, "Person", 1, Value, LV_PERSON_COLUMNS);

#define LV_SURVEY_COLUMNS(X) X(SurveyID, Get) X(SurveyTitle, Get) X(SurveyGreeting, Get) X(SurveyInstructions, Get)
LV_DECLARE_ENTITY(CSurvey, "Survey", 1, Value, LV_SURVEY_COLUMNS);

#define LV_SURVEY_QUESTION_TYPE_COLUMNS(X) X(QuestionType, Get) X(QuestionTypeDesc, Get)
LV_DECLARE_ENTITY(CSurveyQuestionType, "SurveyQuestionType", 1, Value, LV_SURVEY_QUESTION_TYPE_COLUMNS);

#define LV_SURVEY_REPLY_COLUMNS(X) X(ReplyID, Get) X(SurveyID, Get) X(ReplyEmail, Get) X(ReplyDate, Get)
LV_DECLARE_ENTITY(CSurveyReply, "SurveyReply", 1, Value, LV_SURVEY_REPLY_COLUMNS);

#define LV_SURVEY_RESPONSE_COLUMNS(X) \
  X(ResponseID, Get) X(ReplyID, Get) X(SurveyQuestionID, Get) X(SurveyQuestionResponse, Get)
LV_DECLARE_ENTITY(CSurveyResponse, "SurveyResponse", 1, Value, LV_SURVEY_RESPONSE_COLUMNS);

#define LV_VISION_COLUMNS(X)                                                                   \
  X(VisionID, Get) X(Title, Get) X(VisionFromGod, Get) X(PeopleDesc, Get) X(EnvironmentDesc, Get) \
  X(UrgencyDesc, Get) X(OpeningParagraph, Get)
LV_DECLARE_ENTITY(CVision, "Vision", 1, Value, LV_VISION_COLUMNS);

#define LV_STRATEGIC_PLAN_COLUMNS(X) X(PlanID, GetSet) X(PlanName, GetSet) X(PlanDesc, GetSet)
LV_DECLARE_ENTITY(CStrategicPlan, "StrategicPlan", 1, ValueAndDefault, LV_STRATEGIC_PLAN_COLUMNS);

#define LV_STRATEGY_GOAL_STATUS_REPLY_COLUMNS(X) \
  X(ReplyID, Get) X(StrategyID, Get) X(ReplyEmail, Get) X(ReplyDate, Get)
LV_DECLARE_ENTITY(CStrategyGoalStatusReply, "StrategyGoalStatusReply", 1, Value,
                  LV_STRATEGY_GOAL_STATUS_REPLY_COLUMNS);

#define LV_STRATEGY_GOAL_STATUS_RESPONSE_COLUMNS(X) \
  X(ResponseID, Get) X(ReplyID, Get) X(GoalID, Get) X(PercentComplete, Get) X(Comment, Get)
LV_DECLARE_ENTITY(CStrategyGoalStatusResponse, "StrategyGoalStatusResponse", 1, Value,
                  LV_STRATEGY_GOAL_STATUS_RESPONSE_COLUMNS);

// A link row has no key of its own: both columns together address it.
#define LV_STRATEGY_VISION_XREF_COLUMNS(X) X(StrategyID, Get) X(VisionID, Get)
LV_DECLARE_ENTITY(CStrategyVisionXref, "StrategyVisionXref", 2, Value, LV_STRATEGY_VISION_XREF_COLUMNS);

#define LV_RESOURCE_COLUMNS(X) \
  X(ResourceID, GetSet) X(ResourceType, GetSet) X(ResourceName, GetSet) X(Comment, GetSet) X(ResourceEmail, Get)
LV_DECLARE_ENTITY(CResource, "Resource", 1, ValueAndDefault, LV_RESOURCE_COLUMNS);

#define LV_SETTINGS_COLUMNS(X) X(SettingNum, Get) X(Descr, Get) X(StrVal, Get) X(BitVal, Get) X(IntVal, Get)
LV_DECLARE_ENTITY(CSettings, "Settings", 1, Value, LV_SETTINGS_COLUMNS);

// The entities above, each with a database decorator and a log decorator.
#define LV_PERSISTED_ENTITIES(X)                                                                         \
  X(CPerson) X(CSurvey) X(CSurveyQuestionType) X(CSurveyReply) X(CSurveyResponse) X(CVision)           \
  X(CStrategicPlan) X(CStrategyGoalStatusReply) X(CStrategyGoalStatusResponse) X(CStrategyVisionXref) \
  X(CResource) X(CSettings)

// Declares Entity##Family (CPersonLogDecorator) as the template C##Family
// (CLogDecorator) over Entity, with the template's constructors.
#define LV_DECORATOR_CLASS(Entity, Family)                  \
  class Entity##Family : public C##Family<Entity> {         \
   public:                                                  \
    using C##Family::C##Family;                             \
  };

// Entities filled only by the hand-written queries; nothing writes them.

#define LV_SURVEY_OTHER_EMAIL_COLUMNS(X) X(SurveyOtherEmailID, Get) X(SurveyID, Get) X(Email, Get)
LV_DECLARE_ENTITY(CSurveyOtherEmail, "SurveyOtherEmail", 1, Value, LV_SURVEY_OTHER_EMAIL_COLUMNS);

#define LV_SURVEY_QUESTION_COLUMNS(X)                                                             \
  X(SurveyQuestionID, Get) X(SurveyQuestionNumber, Get) X(SurveyQuestionType, Get) X(SurveyScaleMin, Get) \
  X(SurveyScaleMax, Get) X(SurveyMultipleChoiceID, Get) X(SurveyQuestion, Get)
LV_DECLARE_ENTITY(CSurveyQuestion, "SurveyQuestion", 1, Value, LV_SURVEY_QUESTION_COLUMNS);

#define LV_SMART_GOAL_COLUMNS(X) \
  X(GoalID, Get) X(GoalTitle, Get) X(GoalDesc, Get) X(SuccessDesc, Get) X(DueDate, Get) X(PersonId, Get)
LV_DECLARE_ENTITY(CSMARTGoal, "SMARTGoal", 1, Value, LV_SMART_GOAL_COLUMNS);

#define LV_SMART_GOAL_PLAN_XREF_COLUMNS(X) X(GoalID, GetSet) X(PlanID, GetSet) X(PlanDesc, GetSet)
LV_DECLARE_ENTITY(CSMARTGoalPlanXref, "SMARTGoalPlanXref", 2, Default, LV_SMART_GOAL_PLAN_XREF_COLUMNS);

#define LV_SMART_GOAL_RESOURCE_XREF_COLUMNS(X) X(GoalID, GetSet) X(ResourceID, GetSet) X(Comment, GetSet)
LV_DECLARE_ENTITY(CSMARTGoalResourceXref, "SMARTGoalResourceXref", 2, Default,
                  LV_SMART_GOAL_RESOURCE_XREF_COLUMNS);

// Used as a single object: it has no collection.
#define LV_STRATEGY_COLUMNS(X) X(StrategyID, GetSet) X(StrategyTitle, GetSet) X(StrategyDesc, GetSet)
LV_DECLARE_ELEMENT(CStrategy, "Strategy", 1, Default, LV_STRATEGY_COLUMNS);
