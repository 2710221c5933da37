// The exact texts the database decorators send, read back from the database
// library's statement trace.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "biz_fixture.h"
#include "bizobjects/database_decorators.h"

namespace {

using biz_test::DatabaseTest;

TEST(EscapeQuotes, GivesOddRunsOfQuotesOneMoreAndLeavesEvenRuns) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"O'Brien", "O''Brien"},
      {"It''s", "It''s"},
      {"a'''b", "a''''b"},
      {"a''''b", "a''''b"},
      {"'", "''"},
      {"''", "''"},
      {"'''", "''''"},
      {"'lead", "''lead"},
      {"trail'", "trail''"},
      {"a'b'c", "a''b''c"},
      {"x'y''z'''w", "x''y''z''''w"},
      {"\"double\" quotes; -- stay", "\"double\" quotes; -- stay"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeQuotes(c.in), c.out) << "input: " << c.in;
}

TEST(StatementBuilders, RefuseValuesThatDoNotMatchTheColumns) {
  const std::vector<std::string_view> tooFew = {"1", "2"};
  EXPECT_THROW(InsertStatement(ShapeOf<CPerson>(), tooFew), std::invalid_argument);
  EXPECT_THROW(UpdateStatement(ShapeOf<CSurvey>(), tooFew), std::invalid_argument);
  EXPECT_THROW(DeleteStatement(ShapeOf<CVision>(), tooFew), std::invalid_argument);
  EXPECT_EQ(SaveStatement(ShapeOf<CPerson>(), Clean, tooFew), "");
}

class PersonStatements : public DatabaseTest {
 protected:
  static CPerson* MakePerson(const std::vector<std::string>& v) {
    return new CPerson(v.at(0), v.at(1), v.at(2), v.at(3), v.at(4), v.at(5), v.at(6), v.at(7), v.at(8), v.at(9),
                       v.at(10), v.at(11), v.at(12));
  }

  // Saves one person in `state` and returns what was sent.
  std::string Save(CPerson* person, ElementState state) {
    CPersons persons;
    persons.load(person);
    person->SetObjectState(state);
    CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
    EXPECT_TRUE(decorator.save());
    return TakeStatements();
  }
};

// A plain row, then one with a quote, two and three quotes in a row and
// empty fields (written as two adjacent quotes).
TEST_F(PersonStatements, InsertUpdateAndDeleteTexts) {
  const struct {
    std::vector<std::string> values;
    const char* insert;
    const char* update;
    const char* remove;
  } cases[] = {
      {{"{P1}", "Ann", "B", "Carter", "ann@example.org", "1", "2", "3", "1 Main St", "Apt 2", "Town", "TX", "75001"},
       "INSERT INTO Person(PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, "
       "Addr1, Addr2, City, State, Zip  )VALUES ('{P1}', 'Ann', 'B', 'Carter', 'ann@example.org', '1', '2', "
       "'3', '1 Main St', 'Apt 2', 'Town', 'TX', '75001')\n",
       "UPDATE Person SET PersonID = '{P1}', FirstName = 'Ann', MiddleName = 'B', LastName = 'Carter', "
       "Email = 'ann@example.org', HomePhone = '1', WorkPhone = '2', OtherPhone = '3', Addr1 = '1 Main St', "
       "Addr2 = 'Apt 2', City = 'Town', State = 'TX', Zip = '75001'  WHERE PersonID = '{P1}' \n",
       "DELETE FROM Person WHERE PersonID = '{P1}' \n"},
      {{"{P2}", "Pat", "", "O'Brien", "", "It''s", "a'''b", "", "", "", "", "", ""},
       "INSERT INTO Person(PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, "
       "Addr1, Addr2, City, State, Zip  )VALUES ('{P2}', 'Pat', '', 'O''Brien', '', 'It''s', 'a''''b', '', "
       "'', '', '', '', '')\n",
       "UPDATE Person SET PersonID = '{P2}', FirstName = 'Pat', MiddleName = '', LastName = 'O''Brien', "
       "Email = '', HomePhone = 'It''s', WorkPhone = 'a''''b', OtherPhone = '', Addr1 = '', Addr2 = '', "
       "City = '', State = '', Zip = ''  WHERE PersonID = '{P2}' \n",
       "DELETE FROM Person WHERE PersonID = '{P2}' \n"},
  };
  for (const auto& c : cases) {
    const auto person = [&] { return MakePerson(c.values); };
    EXPECT_EQ(Save(person(), New), c.insert);
    EXPECT_EQ(Save(person(), Modified), c.update);
    EXPECT_EQ(Save(person(), Deleted), c.remove);
  }
}

// Key values in WHERE clauses have their quotes doubled, whatever the run.
TEST_F(PersonStatements, AKeyHoldingQuotesHasThemDoubledInTheWhereClause) {
  const auto person = [] { return new CPerson("k'e''y", "", "", "", "", "", "", "", "", "", "", "", ""); };
  EXPECT_EQ(Save(person(), Deleted), "DELETE FROM Person WHERE PersonID = 'k''e''''y' \n");
  const std::string update = Save(person(), Modified);
  EXPECT_EQ(update.substr(0, 38), "UPDATE Person SET PersonID = 'k''e''y'");
  EXPECT_EQ(update.substr(update.find("WHERE")), "WHERE PersonID = 'k''e''''y' \n");
}

TEST_F(PersonStatements, LoadSendsTheWholeTableSelect) {
  CPersons persons;
  CPersonDatabaseDecorator decorator(nullptr, &m_connection, &persons);
  EXPECT_TRUE(decorator.load());
  EXPECT_EQ(TakeStatements(),
            "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, "
            "City, State, Zip  FROM Person\n");
}

TEST_F(DatabaseTest, StrategyVisionXrefIsAddressedByBothColumns) {
  CStrategyVisionXrefs links;
  links.load(new CStrategyVisionXref("{S1}", "{V1}"));
  links.load(new CStrategyVisionXref("{S1}", "{V2}"));
  links.add(new CStrategyVisionXref("{S2}", "{V3}"));
  links.at(0)->SetObjectState(Modified);
  links.at(1)->SetObjectState(Deleted);
  CStrategyVisionXrefDatabaseDecorator decorator(nullptr, &m_connection, &links);
  EXPECT_TRUE(decorator.save());
  EXPECT_EQ(TakeStatements(),
            "UPDATE StrategyVisionXref SET StrategyID = '{S1}', VisionID = '{V1}'  "
            "WHERE StrategyID = '{S1}' AND VisionID = '{V1}' \n"
            "DELETE FROM StrategyVisionXref WHERE StrategyID = '{S1}' AND VisionID = '{V2}' \n"
            "INSERT INTO StrategyVisionXref(StrategyID, VisionID  )VALUES ('{S2}', '{V3}')\n");
}

// Loads an empty table through a bare decorator of the given class.
template <class Decorator, class Collection>
std::function<void()> LoadWith(CDBConnection* connection) {
  return [connection] {
    Collection collection;
    Decorator decorator(nullptr, connection, &collection);
    EXPECT_TRUE(decorator.load());
    EXPECT_TRUE(collection.empty());
  };
}

// One row per decorator: its load sends the SELECT of its table, written out
// here in full rather than derived.
TEST_F(DatabaseTest, EveryDatabaseDecoratorLoadsItsWholeTable) {
  CDBConnection* c = &m_connection;
  const struct {
    std::function<void()> load;
    const char* select;
  } cases[] = {
      {LoadWith<CPersonDatabaseDecorator, CPersons>(c),
       "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, City, "
       "State, Zip  FROM Person"},
      {LoadWith<CSurveyDatabaseDecorator, CSurveys>(c),
       "SELECT SurveyID, SurveyTitle, SurveyGreeting, SurveyInstructions  FROM Survey"},
      {LoadWith<CSurveyQuestionTypeDatabaseDecorator, CSurveyQuestionTypes>(c),
       "SELECT QuestionType, QuestionTypeDesc  FROM SurveyQuestionType"},
      {LoadWith<CSurveyReplyDatabaseDecorator, CSurveyReplys>(c),
       "SELECT ReplyID, SurveyID, ReplyEmail, ReplyDate  FROM SurveyReply"},
      {LoadWith<CSurveyResponseDatabaseDecorator, CSurveyResponses>(c),
       "SELECT ResponseID, ReplyID, SurveyQuestionID, SurveyQuestionResponse  FROM SurveyResponse"},
      {LoadWith<CVisionDatabaseDecorator, CVisions>(c),
       "SELECT VisionID, Title, VisionFromGod, PeopleDesc, EnvironmentDesc, UrgencyDesc, OpeningParagraph  FROM Vision"},
      {LoadWith<CStrategicPlanDatabaseDecorator, CStrategicPlans>(c),
       "SELECT PlanID, PlanName, PlanDesc  FROM StrategicPlan"},
      {LoadWith<CStrategyGoalStatusReplyDatabaseDecorator, CStrategyGoalStatusReplys>(c),
       "SELECT ReplyID, StrategyID, ReplyEmail, ReplyDate  FROM StrategyGoalStatusReply"},
      {LoadWith<CStrategyGoalStatusResponseDatabaseDecorator, CStrategyGoalStatusResponses>(c),
       "SELECT ResponseID, ReplyID, GoalID, PercentComplete, Comment  FROM StrategyGoalStatusResponse"},
      {LoadWith<CStrategyVisionXrefDatabaseDecorator, CStrategyVisionXrefs>(c),
       "SELECT StrategyID, VisionID  FROM StrategyVisionXref"},
      {LoadWith<CResourceDatabaseDecorator, CResources>(c),
       "SELECT ResourceID, ResourceType, ResourceName, Comment, ResourceEmail  FROM Resource"},
      {LoadWith<CSettingsDatabaseDecorator, CSettingss>(c),
       "SELECT SettingNum, Descr, StrVal, BitVal, IntVal  FROM Settings"},
  };
  testing::internal::CaptureStdout();
  for (const auto& row : cases) {
    row.load();
    EXPECT_EQ(TakeStatements(), std::string(row.select) + "\n");
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
