// Database decorators against a real database made from the schema: round
// trips, element states, failures and stacking with a log decorator.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "biz_fixture.h"
#include "bizobjects/database_decorators.h"
#include "bizobjects/log_decorators.h"

namespace {

using biz_test::DatabaseTest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

template <class Element, std::size_t... I>
std::unique_ptr<Element> MakeElement(const std::vector<std::string>& values, std::index_sequence<I...>) {
  return std::make_unique<Element>(values[I]...);
}
template <class Element>
std::unique_ptr<Element> MakeElement(const std::vector<std::string>& values) {
  return MakeElement<Element>(values, std::make_index_sequence<Element::kColumnCount>());
}

template <class Element>
std::vector<std::string> ValuesOf(const Element& element) {
  const auto values = element.Values();
  return std::vector<std::string>(values.begin(), values.end());
}

// Per column: the text saved, the text the table holds, and the text read
// back (the gateway turns LF into CR LF and CR LF into CR CR LF on reading).
struct Column {
  std::string saved, stored, loaded;
};
std::vector<Column> Columns(const std::string& tag, std::size_t count) {
  std::vector<Column> columns;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string n = tag + std::to_string(i);
    switch (i % 3) {
      case 0:
        columns.push_back({n + " O'Neil", n + " O'Neil", n + " O'Neil"});
        break;
      case 1:
        columns.push_back({n + " first\nsecond", n + " first\nsecond", n + " first\r\nsecond"});
        break;
      default:
        columns.push_back({n + " a'''b\r\nc", n + " a''b\r\nc", n + " a''b\r\r\nc"});
        break;
    }
  }
  return columns;
}

template <class Decorator>
class EveryDatabaseDecorator : public DatabaseTest {};

using DatabaseDecorators =
    ::testing::Types<CPersonDatabaseDecorator, CSurveyDatabaseDecorator, CSurveyQuestionTypeDatabaseDecorator,
                     CSurveyReplyDatabaseDecorator, CSurveyResponseDatabaseDecorator, CVisionDatabaseDecorator,
                     CStrategicPlanDatabaseDecorator, CStrategyGoalStatusReplyDatabaseDecorator,
                     CStrategyGoalStatusResponseDatabaseDecorator, CStrategyVisionXrefDatabaseDecorator,
                     CResourceDatabaseDecorator, CSettingsDatabaseDecorator>;
TYPED_TEST_SUITE(EveryDatabaseDecorator, DatabaseDecorators);

TYPED_TEST(EveryDatabaseDecorator, SavedRowsLoadBackFieldForField) {
  using Element = typename TypeParam::ElementType;
  using Collection = typename TypeParam::Collection;
  const std::vector<std::vector<Column>> rows = {Columns("A", Element::kColumnCount),
                                                 Columns("B", Element::kColumnCount)};
  const auto pick = [](const std::vector<Column>& row, std::string Column::*which) {
    std::vector<std::string> values;
    for (const Column& c : row) values.push_back(c.*which);
    return values;
  };
  CaptureStdout();
  {
    Collection saved;
    for (const auto& row : rows) saved.add(MakeElement<Element>(pick(row, &Column::saved)));
    TypeParam writer(nullptr, &this->m_connection, &saved);
    EXPECT_TRUE(writer.save());
    for (Element* element : saved) EXPECT_EQ(element->GetObjectState(), Clean);

    const std::string table(Element::kTable);
    const auto stored = this->Rows("SELECT * FROM " + table + " ORDER BY rowid");
    ASSERT_EQ(stored.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) EXPECT_EQ(stored[r], pick(rows[r], &Column::stored)) << table;

    Collection loaded;
    TypeParam reader(nullptr, &this->m_connection, &loaded);
    EXPECT_TRUE(reader.load());
    ASSERT_EQ(loaded.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(ValuesOf(*loaded.at(r)), pick(rows[r], &Column::loaded)) << table;
      EXPECT_EQ(loaded.at(r)->GetObjectState(), Clean);
    }
  }
  GetCapturedStdout();
}

class PersonDecorator : public DatabaseTest {
 protected:
  static std::unique_ptr<CPerson> Person(const std::string& id, const std::string& last = "Smith") {
    return std::make_unique<CPerson>(id, "First", "", last, "", "", "", "", "", "", "", "", "");
  }
  void InsertRow(const std::string& id, const std::string& last) {
    Exec("INSERT INTO Person (PersonID, LastName) VALUES ('" + id + "', '" + last + "')");
  }
  std::vector<std::vector<std::string>> IdsAndNames() {
    return Rows("SELECT PersonID, LastName FROM Person ORDER BY rowid");
  }
  static std::vector<ElementState> States(const CPersons& persons) {
    std::vector<ElementState> states;
    for (const CPerson* person : persons) states.push_back(person->GetObjectState());
    return states;
  }

  void SetUp() override {
    DatabaseTest::SetUp();
    CaptureStdout();
  }
  void TearDown() override {
    GetCapturedStdout();
    DatabaseTest::TearDown();
  }
};

TEST_F(PersonDecorator, SaveWritesOneStatementPerChangedElementAndLeavesAllClean) {
  InsertRow("{M}", "Before");
  InsertRow("{D}", "Doomed");
  InsertRow("{C}", "Untouched");
  CPersons persons;
  persons.load(Person("{M}", "After"));
  persons.load(Person("{D}", "Doomed"));
  persons.load(Person("{C}", "Untouched"));
  persons.add(Person("{N}", "Newcomer"));
  persons.load(Person("{U}", "Never"));
  persons.at(4)->SetObjectState(Unset);
  persons.at(0)->SetObjectState(Modified);
  persons.at(1)->SetObjectState(Deleted);
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);

  EXPECT_TRUE(decorator.save());
  const std::string sent = TakeStatements();
  EXPECT_EQ(sent.substr(0, 18), "UPDATE Person SET ");
  EXPECT_NE(sent.find("\nDELETE FROM Person WHERE PersonID = '{D}' \nINSERT INTO Person("), std::string::npos);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), 3) << sent;
  EXPECT_EQ(States(persons), std::vector<ElementState>(5, Clean));
  EXPECT_EQ(persons.size(), 5u) << "a deleted element stays in its collection";
  EXPECT_EQ(IdsAndNames(), (std::vector<std::vector<std::string>>{{"{M}", "After"}, {"{C}", "Untouched"},
                                                                   {"{N}", "Newcomer"}}));

  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(TakeStatements(), "") << "a second save has nothing left to write";
}

TEST_F(PersonDecorator, AnUnsetElementIsCleanAfterSaveWithoutAStatement) {
  CPersons persons;
  persons.add(Person("{U}"));
  persons.at(0)->SetObjectState(Unset);
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(TakeStatements(), "");
  EXPECT_EQ(persons.at(0)->GetObjectState(), Clean);
  EXPECT_TRUE(IdsAndNames().empty());
}

TEST_F(PersonDecorator, AChangedLoadedRowIsUpdatedInPlace) {
  InsertRow("{P}", "Old");
  CStrategicPlans plans;
  Exec("INSERT INTO StrategicPlan VALUES ('{PL}', 'Name', 'Desc')");
  CStrategicPlanDatabaseDecorator decorator(nullptr, &m_connection, &plans);
  ASSERT_TRUE(decorator.load());
  ASSERT_EQ(plans.size(), 1u);
  plans.at(0)->SetPlanName("Renamed, O'Hara's");
  EXPECT_EQ(plans.at(0)->GetObjectState(), Modified);
  TakeStatements();
  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(TakeStatements(),
            "UPDATE StrategicPlan SET PlanID = '{PL}', PlanName = 'Renamed, O''Hara''s', PlanDesc = 'Desc'  "
            "WHERE PlanID = '{PL}' \n");
  EXPECT_EQ(Rows("SELECT * FROM StrategicPlan"),
            (std::vector<std::vector<std::string>>{{"{PL}", "Renamed, O'Hara's", "Desc"}}));
}

TEST_F(PersonDecorator, AFailingStatementLeavesEarlierElementsCleanAndLaterOnesAsTheyWere) {
  InsertRow("{DUP}", "Existing");
  InsertRow("{L}", "Loaded");
  CPersons persons;
  persons.add(Person("{A}"));
  persons.add(Person("{DUP}", "Clash"));
  persons.load(Person("{L}", "Changed"));
  persons.at(2)->SetObjectState(Modified);
  persons.add(Person("{Z}"));
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);

  testing::internal::CaptureStderr();
  EXPECT_THROW(decorator.save(), std::exception);
  const std::string alert = testing::internal::GetCapturedStderr();
  EXPECT_NE(alert.find("LV_DB_Log.txt"), std::string::npos) << alert;
  EXPECT_EQ(States(persons), (std::vector<ElementState>{Clean, New, Modified, New}));
  EXPECT_EQ(IdsAndNames(), (std::vector<std::vector<std::string>>{{"{DUP}", "Existing"}, {"{L}", "Loaded"},
                                                                   {"{A}", "Smith"}}));
}

TEST_F(PersonDecorator, LoadReplacesTheCollectionWithTheTableInItsOrder) {
  InsertRow("{2}", "Second");
  InsertRow("{1}", "First");
  CPersons persons;
  persons.add(Person("{old}"));
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
  EXPECT_TRUE(decorator.load());
  std::vector<std::string> ids;
  for (const CPerson* person : persons) ids.push_back(person->GetPersonID() + "/" + person->GetLastName());
  EXPECT_EQ(ids, (std::vector<std::string>{"{2}/Second", "{1}/First"}));
  EXPECT_EQ(States(persons), (std::vector<ElementState>{Clean, Clean}));
  EXPECT_EQ(persons.TraceText(),
            "CBizObjectCollection::add()CBizObjectCollection::clear()CBizObjectCollection::load()"
            "CBizObjectCollection::load()");
}

TEST_F(PersonDecorator, LoadOfAnEmptyTableEmptiesTheCollectionAndReturnsTrue) {
  CPersons persons;
  persons.load(Person("{gone}"));
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
  EXPECT_TRUE(decorator.load());
  EXPECT_TRUE(persons.empty());
}

TEST_F(PersonDecorator, AFailingSelectLeavesTheCollectionEmpty) {
  CPersons persons;
  persons.load(Person("{gone}"));
  Exec("DROP TABLE Person");
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
  testing::internal::CaptureStderr();
  EXPECT_THROW(decorator.load(), std::exception);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(persons.empty());
}

TEST_F(PersonDecorator, WithoutACollectionSaveAndLoadReportFailureAndSendNothing) {
  std::ostringstream log;
  CPersonDatabaseDecorator decorator(new CPersonLogDecorator(nullptr, &log, nullptr), &m_connection, nullptr);
  EXPECT_FALSE(decorator.load());
  EXPECT_FALSE(decorator.save());
  EXPECT_EQ(TakeStatements(), "");
  EXPECT_EQ(log.str(), "CCoreValue::load() \nCCoreValue::save() \n") << "the inner decorator still ran";
}

TEST_F(PersonDecorator, WithoutAConnectionSaveAndLoadRefuseBeforeTouchingTheCollection) {
  CPersons persons;
  persons.add(Person("{N}"));
  CPersonDatabaseDecorator decorator(nullptr, nullptr, &persons);
  EXPECT_THROW(decorator.save(), std::invalid_argument);
  EXPECT_THROW(decorator.load(), std::invalid_argument);
  ASSERT_EQ(persons.size(), 1u);
  EXPECT_EQ(persons.at(0)->GetObjectState(), New);
}

TEST_F(PersonDecorator, DumpAndValidatePassToTheInnerDecoratorAndReturnFalse) {
  std::ostringstream log;
  CPersons persons;
  persons.add(Person("{K}"));
  CPersonDatabaseDecorator decorator(std::make_unique<CPersonLogDecorator>(nullptr, &log, &persons), &m_connection,
                                     &persons);
  EXPECT_FALSE(decorator.dump());
  EXPECT_FALSE(decorator.validate());
  EXPECT_EQ(log.str(), "CCoreValue::dump() \nPersonID = {K}\nCCoreValue::validate() \nPersonID = {K}\n");
  EXPECT_EQ(TakeStatements(), "");
}

// The log decorator inside runs first: on load it lists what the collection
// held before the reload; on save it lists every element, whatever its state.
TEST_F(PersonDecorator, AWrappedLogDecoratorTracesBeforeTheDatabaseWork) {
  InsertRow("{T}", "Table");
  std::ostringstream log;
  CPersons persons;
  persons.load(Person("{before}"));
  CPersonDatabaseDecorator decorator(new CPersonLogDecorator(nullptr, &log, &persons), &m_connection, &persons);
  EXPECT_TRUE(decorator.load());
  EXPECT_EQ(log.str(), "CCoreValue::load() \nPersonID = {before}\n");
  persons.add(Person("{new}"));
  log.str("");
  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(log.str(), "CCoreValue::save() \nPersonID = {T}\nPersonID = {new}\n");
  EXPECT_EQ(IdsAndNames().size(), 2u);
}

}  // namespace
