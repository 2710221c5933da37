#include "strategy/strategy_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "reply_database.h"
#include "strategy_test_text.h"
#include "util/dates.h"

// Shown by the test framework when two items differ.
void PrintTo(const ChoiceItem& item, std::ostream* out) {
  *out << "{" << item.id << ", " << item.name << ", " << item.position << ", " << item.linked << ", " << item.typeCode
       << ", " << item.text << "}";
}

namespace {

using Statements = std::vector<std::string>;
using namespace strategy_test;

// Collects what is written to std::cout while it lives.
class CapturedCout {
 public:
  CapturedCout() : m_old(std::cout.rdbuf(m_text.rdbuf())) {}
  ~CapturedCout() { std::cout.rdbuf(m_old); }
  std::string Text() const { return m_text.str(); }
  int CountLines(const std::string& line) const {
    std::istringstream in(m_text.str());
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l == line;
    return n;
  }

 private:
  std::ostringstream m_text;
  std::streambuf* m_old;
};

class StrategyModel : public testing_support::ReplyDatabaseTest {
 protected:
  void SetUp() override {
    ReplyDatabaseTest::SetUp();
    Exec(testing_support::ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/db/demo.sql"));
  }
};

std::vector<std::string> Ids(const ChoiceItemList& items) {
  std::vector<std::string> ids;
  for (const ChoiceItem& item : items) ids.push_back(item.id);
  return ids;
}

TEST_F(StrategyModel, LoadsTheStrategyItsGoalsTheirChoicesAndItsVisionInThatOrder) {
  CStrategyModel model;
  ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model));

  EXPECT_EQ(model.strategyId, kDemoStrategy);
  EXPECT_EQ(model.title, "Reach Our Neighbourhood 2027");
  EXPECT_EQ(model.description, "Grow our presence in the streets around the church through service and hospitality.");
  EXPECT_EQ(TakeStatements(), DemoModelLoadStatements());

  ASSERT_EQ(model.goals.size(), 3u);
  const CSmartGoal& goal = model.goals.at(0);
  EXPECT_EQ(goal.goalId, kDemoGoal1);
  EXPECT_EQ(goal.title, "Launch a monthly community meal");
  EXPECT_EQ(goal.loadedTitle, goal.title);
  EXPECT_EQ(goal.description, "Serve a free hot meal in the fellowship hall on the first Saturday of every month.");
  EXPECT_EQ(goal.successCriteria, "Forty guests from the neighbourhood at three meals in a row.");
  EXPECT_EQ(goal.personId, "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B03}");
  EXPECT_EQ(goal.personName, "Maria Elena Santos");
  ASSERT_TRUE(goal.person.has_value()) << "the notification sends to the person found at load";
  EXPECT_EQ(goal.person->PersonID, goal.personId);
  EXPECT_EQ(goal.dueDate.status, DateStatus::Valid);
  EXPECT_EQ(FormatDateOnly(goal.dueDate), "2027-03-31");
  EXPECT_EQ(model.goals.at(1).goalId, kDemoGoal2);
  EXPECT_EQ(model.goals.at(1).personName, "Robert James O'Brien");
  EXPECT_EQ(model.goals.at(2).goalId, kDemoGoal3);
  EXPECT_EQ(model.goals.at(2).personName, "Grace Wanjiru Mwangi");

  // A goal's own lists carry the resource's and the plan's own texts, not the
  // link rows'; a type outside the table (7) is kept as it is.
  EXPECT_EQ(goal.resources.Items(),
            (ChoiceItemList{
                {"{E0000001-0000-4000-8000-000000000001}", "Kitchen equipment", 0, true, 1,
                 "Two roasting ovens and serving trays"},
                {"{E0000001-0000-4000-8000-000000000002}", "Volunteer cooks", 0, true, 2, "Six people per meal"},
                {"{E0000001-0000-4000-8000-000000000003}", "Fellowship hall", 0, true, 3, "Booked first Saturdays"},
                {"{E0000001-0000-4000-8000-000000000004}", "Meal budget", 0, true, 4, "$300 a month"},
                {"{E0000001-0000-4000-8000-000000000006}", "Archive boxes", 0, true, 7, "Kept for the records office"},
            }));
  EXPECT_EQ(goal.plans.Items(), (ChoiceItemList{
                                    {"{D0000001-0000-4000-8000-000000000001}", "Menu planning", 0, true, 0,
                                     "Agree a simple seasonal menu with the cooks"},
                                    {"{D0000001-0000-4000-8000-000000000002}", "Invitations", 0, true, 0,
                                     "Deliver flyers to 400 homes a week before each meal"},
                                }));
  EXPECT_TRUE(model.goals.at(2).resources.Items().empty());
  EXPECT_TRUE(model.goals.at(2).plans.Items().empty());

  for (const auto& g : model.goals) {
    EXPECT_EQ(g->plans.Model(), &model);
    EXPECT_EQ(g->plans.Catalog(), &model.planCatalog);
    EXPECT_EQ(g->resources.Model(), &model);
    EXPECT_EQ(g->resources.Catalog(), &model.resourceCatalog);
  }

  EXPECT_TRUE(model.hasVision);
  EXPECT_EQ(model.visionId, "{B0000001-0000-4000-8000-000000000001}");
  EXPECT_EQ(model.visionText,
            "We see Grace Fellowship as a house with open doors. Every guest is welcomed by name. "
            "Every street is prayed for each month.");
}

TEST_F(StrategyModel, CatalogsLoadedTwiceHoldEachRowOnceAndTraceBothLoadsToStandardOutput) {
  CapturedCout out;
  CStrategyModel model;
  ASSERT_TRUE(LoadChoiceCatalogs(model));
  EXPECT_EQ(TakeStatements(), (Statements{kPlanCatalogStatement, kResourceCatalogStatement}));
  EXPECT_EQ(out.CountLines("CCoreValue::load() "), 2);

  ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model));
  // Two catalog loads each time; the vision loads trace elsewhere.
  EXPECT_EQ(out.CountLines("CCoreValue::load() "), 4) << out.Text();

  EXPECT_EQ(Ids(model.planCatalog), (std::vector<std::string>{"{D0000001-0000-4000-8000-000000000001}",
                                                              "{D0000001-0000-4000-8000-000000000002}",
                                                              "{D0000001-0000-4000-8000-000000000003}"}));
  ASSERT_EQ(model.resourceCatalog.size(), 7u);
  EXPECT_EQ(model.resourceCatalog[1], (ChoiceItem{"{E0000001-0000-4000-8000-000000000002}", "Volunteer cooks", 0, false,
                                                  2, "Six people per meal"}));
  EXPECT_EQ(model.planCatalog[2], (ChoiceItem{"{D0000001-0000-4000-8000-000000000003}", "Work days", 0, false, 0,
                                              "Two Saturday work days for painting and lighting"}));
}

TEST_F(StrategyModel, AStrategyThatIsNotFoundLoadsNothingElse) {
  CStrategyModel model;
  EXPECT_FALSE(LoadStrategyModel("{E2F3A4B5-0000-0000-0000-000000000000}", model));
  EXPECT_EQ(TakeStatements().size(), 1u) << "only the strategy query";
  EXPECT_EQ(model.strategyId, "{E2F3A4B5-0000-0000-0000-000000000000}");
  EXPECT_TRUE(model.goals.empty());
  EXPECT_TRUE(model.planCatalog.empty());
  EXPECT_EQ(model.title, "");
  EXPECT_FALSE(model.hasVision);
}

TEST_F(StrategyModel, MissingOrAbsentPersonsAreNotFoundAndAnAbsentOneIsNeverSearchedFor) {
  Exec("UPDATE SMARTGoal SET PersonId = '{NO-SUCH-PERSON}' WHERE GoalID = '" + std::string(kDemoGoal1) + "';" +
       "UPDATE SMARTGoal SET PersonId = '' WHERE GoalID = '" + kDemoGoal2 + "';");
  CStrategyModel model;
  ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model));
  ASSERT_EQ(model.goals.size(), 3u);
  EXPECT_EQ(model.goals.at(0).personName, "Not Found");
  EXPECT_EQ(model.goals.at(1).personName, "Not Found");
  EXPECT_EQ(model.goals.at(2).personName, "Grace Wanjiru Mwangi");
  EXPECT_FALSE(model.goals.at(0).person.has_value());
  EXPECT_FALSE(model.goals.at(1).person.has_value());

  const Statements statements = TakeStatements();
  const auto personSearches = std::count_if(statements.begin(), statements.end(), [](const std::string& s) {
    return s.find("FROM Person") != std::string::npos;
  });
  EXPECT_EQ(personSearches, 2) << "an empty person identifier would have found everybody";
}

TEST_F(StrategyModel, DueDatesAndResourceTypesAreConvertedAsFarAsTheyCanBe) {
  Exec("UPDATE SMARTGoal SET DueDate = '' WHERE GoalID = '" + std::string(kDemoGoal1) + "';" +
       "UPDATE SMARTGoal SET DueDate = 'next spring' WHERE GoalID = '" + kDemoGoal2 + "';" +
       "UPDATE SMARTGoal SET DueDate = '2027-02-30' WHERE GoalID = '" + kDemoGoal3 + "';" +
       "UPDATE Resource SET ResourceType = 'lots' WHERE ResourceID = '{E0000001-0000-4000-8000-000000000001}';" +
       "UPDATE Resource SET ResourceType = '4 ' WHERE ResourceID = '{E0000001-0000-4000-8000-000000000002}';");
  CStrategyModel model;
  ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model));
  for (const auto& goal : model.goals) {
    EXPECT_EQ(goal->dueDate.status, DateStatus::Invalid) << goal->goalId;
    EXPECT_EQ(FormatDateOnly(goal->dueDate), "Invalid DateTime") << goal->goalId;
  }
  const ChoiceItemList& resources = model.goals.at(0).resources.Items();
  ASSERT_GE(resources.size(), 2u);
  EXPECT_EQ(resources[0].typeCode, 0) << "not a number";
  EXPECT_EQ(resources[1].typeCode, 4) << "leading digits";
  EXPECT_EQ(model.resourceCatalog[0].typeCode, 0);
}

TEST_F(StrategyModel, TwoResourcesOfOneTypeStayTwoEntriesInRowOrder) {
  Exec("INSERT INTO SMARTGoalResourceXref VALUES ('" + std::string(kDemoGoal3) +
       "', '{E0000001-0000-4000-8000-000000000007}', ''), ('" + kDemoGoal3 +
       "', '{E0000001-0000-4000-8000-000000000004}', ''), ('" + kDemoGoal3 +
       "', '{E0000001-0000-4000-8000-000000000007}', 'again');");
  CStrategyModel model;
  ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model));
  EXPECT_EQ(
      Ids(model.goals.at(2).resources.Items()),
      (std::vector<std::string>{"{E0000001-0000-4000-8000-000000000007}", "{E0000001-0000-4000-8000-000000000004}",
                                "{E0000001-0000-4000-8000-000000000007}"}));
}

TEST_F(StrategyModel, TheFirstVisionLinkOfTheStrategyWinsWhateverItsSpelling) {
  struct Case {
    const char* name;
    std::string links;  // rows of StrategyVisionXref, in table order
    bool hasVision;
    std::string visionId;
    std::string text;
  } cases[] = {
      {"no link", "", false, "", ""},
      {"other strategies only", "('{OTHER}', '{B0000001-0000-4000-8000-000000000001}')", false, "", ""},
      {"lower case without braces",
       "('{OTHER}', '{V-OTHER}'), ('e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7', '{V2}'), ('" + std::string(kDemoStrategy) +
           "', '{B0000001-0000-4000-8000-000000000001}')",
       true, "{V2}", "Second vision. Only paragraph."},
      {"vision without a row", "('" + std::string(kDemoStrategy) + "', '{V-MISSING}')", true, "{V-MISSING}", ""},
  };
  Exec(
      "INSERT INTO Vision VALUES ('{V2}', 'Two', '', '', '', '', 'Second vision. ');"
      "INSERT INTO VisionFunctionalAreaXRef VALUES ('{V2}', '{FA000001-0000-4000-8000-000000000002}', "
      "'Only paragraph.');");
  for (const Case& c : cases) {
    Exec("DELETE FROM StrategyVisionXref;");
    if (!c.links.empty()) Exec("INSERT INTO StrategyVisionXref VALUES " + c.links + ";");
    CStrategyModel model;
    ASSERT_TRUE(LoadStrategyModel(kDemoStrategy, model)) << c.name;
    EXPECT_EQ(model.hasVision, c.hasVision) << c.name;
    EXPECT_EQ(model.visionId, c.visionId) << c.name;
    EXPECT_EQ(model.visionText, c.text) << c.name;
  }
}

TEST_F(StrategyModel, VisionTextIsTheOpeningParagraphAndTheAreaParagraphsRunTogether) {
  VisionRecord vision;
  vision.VisionID = "b0000001-0000-4000-8000-000000000001";  // found by the same GUID
  ASSERT_TRUE(LoadVisionText(vision));
  EXPECT_EQ(vision.Title, "A Light on Our Street");
  EXPECT_EQ(vision.VisionFromGod, "Seek the welfare of the city where I have sent you.");
  EXPECT_EQ(vision.PeopleDesc, "Young families and older neighbours living alone.");
  EXPECT_EQ(vision.EnvironmentDesc, "A mixed neighbourhood of rented flats and old houses.");
  EXPECT_EQ(vision.UrgencyDesc, "Many of our neighbours have never been inside a church.");
  EXPECT_EQ(vision.OpeningParagraph, "We see Grace Fellowship as a house with open doors. ");
  // The areas are asked for with the identifier as given, which the stored
  // links do not spell that way.
  EXPECT_EQ(vision.Text, "We see Grace Fellowship as a house with open doors. ");

  VisionRecord exact;
  exact.VisionID = "{B0000001-0000-4000-8000-000000000001}";
  exact.Text = "stale";
  ASSERT_TRUE(LoadVisionText(exact));
  EXPECT_EQ(exact.Text,
            "We see Grace Fellowship as a house with open doors. Every guest is welcomed by name. "
            "Every street is prayed for each month.");

  VisionRecord missing;
  missing.VisionID = "{NO-SUCH-VISION}";
  missing.Text = "stale";
  EXPECT_TRUE(LoadVisionText(missing));
  EXPECT_EQ(missing.Title, "");
  EXPECT_EQ(missing.Text, "");
}

TEST_F(StrategyModel, LookUpPersonsAppendsTheFiveRecipientFields) {
  std::vector<MailRecipient> records = {{"{OLD}", "", "", "", "old@example.org"}};
  ASSERT_TRUE(LookUpPersons(records, "", "", "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].PersonID, "{OLD}");
  EXPECT_EQ(records[1].PersonID, "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}");
  EXPECT_EQ(records[1].FirstName, "Robert");
  EXPECT_EQ(records[1].MiddleName, "James");
  EXPECT_EQ(records[1].LastName, "O'Brien");
  EXPECT_EQ(records[1].Email, "rob.obrien@example.org");

  std::vector<MailRecipient> byName;
  ASSERT_TRUE(LookUpPersons(byName, "", "Sant", ""));
  ASSERT_EQ(byName.size(), 1u);
  EXPECT_EQ(byName[0].FirstName, "Maria");
}

TEST_F(StrategyModel, TheResponsiblePersonIsLookedUpByIdentifierOnly) {
  EXPECT_TRUE(LookUpResponsiblePerson("").empty());
  EXPECT_TRUE(TakeStatements().empty()) << "nothing is searched for without an identifier";
  EXPECT_TRUE(LookUpResponsiblePerson("{NO-SUCH-PERSON}").empty());
  const std::vector<MailRecipient> found = LookUpResponsiblePerson("{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B01}");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Email, "ann.lee@example.org");
}

TEST_F(StrategyModel, AFailingStatementLeavesTheLoaderAndKeepsWhatWasLoaded) {
  Exec("DROP TABLE SMARTGoalPlanXref;");
  CStrategyModel model;
  EXPECT_THROW(LoadStrategyModel(kDemoStrategy, model), std::exception);
  ASSERT_EQ(model.goals.size(), 3u);
  EXPECT_EQ(model.goals.at(0).resources.Items().size(), 5u) << "resources come before the failing plans";
  EXPECT_TRUE(model.goals.at(0).plans.Items().empty());
  EXPECT_FALSE(model.hasVision);
}

TEST(SmartGoalCollection, OwnsItsGoalsInInsertionOrderAndRefusesNone) {
  CSmartGoalCollection goals;
  CSmartGoal& first = goals.Append(std::make_unique<CSmartGoal>("First"));
  goals.Append(std::make_unique<CSmartGoal>("Second"));
  EXPECT_THROW(goals.Append(nullptr), std::invalid_argument);
  ASSERT_EQ(goals.size(), 2u);
  EXPECT_EQ(&goals.at(0), &first);
  EXPECT_EQ(goals.at(1).title, "Second");
  EXPECT_THROW(goals.at(2), std::out_of_range);
}

TEST(SmartGoal, ANewGoalHasAFreshIdentifierAndIsDueToday) {
  CSmartGoal a("Title");
  CSmartGoal b("Title");
  EXPECT_EQ(a.goalId.size(), 38u);
  EXPECT_NE(a.goalId, b.goalId);
  EXPECT_EQ(a.title, "Title");
  EXPECT_EQ(a.dueDate.status, DateStatus::Valid);
  EXPECT_EQ(FormatDateOnly(a.dueDate), FormatDateOnly(CurrentDate()));
  EXPECT_EQ(a.plans.Catalog(), nullptr);
  EXPECT_TRUE(a.resources.Items().empty());
}

}  // namespace
