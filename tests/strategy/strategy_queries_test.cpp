#include "strategy/strategy_queries.h"

#include <gtest/gtest.h>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reply_database.h"
#include "strategy_test_text.h"

namespace {

using Statements = std::vector<std::string>;
using strategy_test::AreasStatement;
using strategy_test::GoalsStatement;
using strategy_test::PlansStatement;
using strategy_test::ResourcesStatement;
using strategy_test::StrategyStatement;

class StrategyQueries : public testing_support::ReplyDatabaseTest {
 protected:
  void SetUp() override {
    ReplyDatabaseTest::SetUp();
    ASSERT_TRUE(m_connection.Open());
  }

  CDBConnection m_connection;
};

TEST_F(StrategyQueries, SendTheirStatementsCharacterForCharacterWithQuotesInIdentifiersDoubled) {
  struct Case {
    const char* name;
    std::function<void(CDBConnection&, const std::string&)> run;
    std::function<std::string(const std::string&)> statement;
  } cases[] = {
      {"strategy",
       [](CDBConnection& c, const std::string& id) {
         CStrategy strategy;
         LVSAL_GetStrategy(c, id, strategy);
       },
       StrategyStatement},
      {"goals",
       [](CDBConnection& c, const std::string& id) {
         CSMARTGoals goals;
         LVSAL_GetStrategyGoals(c, goals, id);
       },
       GoalsStatement},
      {"resources",
       [](CDBConnection& c, const std::string& id) {
         CResources resources;
         CSMARTGoalResourceXrefs links;
         LVSAL_GetGoalResources(c, resources, links, id);
       },
       ResourcesStatement},
      {"plans",
       [](CDBConnection& c, const std::string& id) {
         CStrategicPlans plans;
         CSMARTGoalPlanXrefs links;
         LVSAL_GetGoalPlans(c, plans, links, id);
       },
       PlansStatement},
      {"vision areas",
       [](CDBConnection& c, const std::string& id) {
         std::vector<VisionFunctionalAreaRow> rows;
         LVSAL_GetVisionFunctionalAreas(c, id, rows);
       },
       AreasStatement},
  };
  struct Id {
    std::string given;
    std::string sent;
  } ids[] = {
      {"{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}", "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}"},  // braces stay
      {"e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7", "e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7"},      // so does case
      {"", ""},
      {"x' OR '1'='1", "x'' OR ''1''=''1"},
  };
  for (const Case& c : cases) {
    for (const Id& id : ids) {
      c.run(m_connection, id.given);
      EXPECT_EQ(TakeStatements(), Statements{c.statement(id.sent)}) << c.name << " for " << id.given;
    }
  }
}

class StrategyRows : public StrategyQueries {
 protected:
  void SetUp() override {
    StrategyQueries::SetUp();
    // The main application's database may compare identifiers without regard
    // to case, and need not keep them unique.
    Exec(
        "DROP TABLE Strategy;"
        "CREATE TABLE Strategy (StrategyID TEXT COLLATE NOCASE, StrategyTitle TEXT, StrategyDesc TEXT);"
        "INSERT INTO Strategy VALUES ('{ABCDEF00-0000-4000-8000-000000000001}', 'First', 'first row'),"
        " ('{abcdef00-0000-4000-8000-000000000001}', 'Second', 'second row'),"
        " ('{ABCDEF00-0000-4000-8000-000000000002}', 'Other', 'another strategy');");
    TakeStatements();
  }
};

TEST_F(StrategyRows, TheFirstRowNamingTheSameGuidFillsTheStrategyThroughItsSetters) {
  CStrategy strategy;
  ASSERT_TRUE(LVSAL_GetStrategy(m_connection, "{AbCdEf00-0000-4000-8000-000000000001}", strategy));
  EXPECT_EQ(strategy.GetStrategyID(), "{ABCDEF00-0000-4000-8000-000000000001}");
  EXPECT_EQ(strategy.GetStrategyTitle(), "First");
  EXPECT_EQ(strategy.GetStrategyDesc(), "first row");
  EXPECT_EQ(strategy.GetObjectState(), Modified);
}

TEST_F(StrategyRows, NoMatchingRowLeavesTheStrategyUntouched) {
  for (const std::string id : {"{ABCDEF00-0000-4000-8000-000000000003}", "", "x' OR '1'='1"}) {
    CStrategy strategy;
    EXPECT_FALSE(LVSAL_GetStrategy(m_connection, id, strategy)) << id;
    EXPECT_EQ(strategy.GetStrategyID(), "") << id;
    EXPECT_EQ(strategy.GetStrategyTitle(), "") << id;
    EXPECT_EQ(strategy.GetObjectState(), Unset) << id;
  }
}

class GoalRows : public StrategyQueries {
 protected:
  void SetUp() override {
    StrategyQueries::SetUp();
    Exec(
        "INSERT INTO Strategy VALUES ('{S1}', 'Strategy', '');"
        "INSERT INTO SMARTGoal VALUES ('{G1}', 'Meal', 'Serve a meal', 'Forty guests', '2027-03-31', '{P1}'),"
        " ('{G2}', 'Room', 'Paint it', '', '', ''), ('{G3}', 'Elsewhere', '', '', '', '{P3}');"
        "INSERT INTO StrategyGoalXRef VALUES ('{S1}', '{G2}'), ('{S1}', '{G1}'), ('{S2}', '{G3}');"
        "INSERT INTO Resource VALUES ('{R1}', 2, 'Cooks', 'Six people', 'cooks@example.org'),"
        " ('{R2}', 7, 'Boxes', 'Archive', '');"
        "INSERT INTO SMARTGoalResourceXref VALUES ('{G1}', '{R2}', 'Link comment'), ('{G1}', '{R1}', ''),"
        " ('{G1}', '{R2}', 'Second link'), ('{G2}', '{R1}', 'Other goal');"
        "INSERT INTO StrategicPlan VALUES ('{L1}', 'Menu', 'Plan description'), ('{L2}', 'Flyers', '');"
        "INSERT INTO SMARTGoalPlanXref VALUES ('{G1}', '{L2}', 'Link description'), ('{G1}', '{L1}', ''),"
        " ('{G3}', '{L1}', 'Other goal');");
    TakeStatements();
  }
};

TEST_F(GoalRows, GoalsOfAStrategyAreAppendedCleanInRowOrder) {
  CSMARTGoals goals;
  goals.load(std::make_unique<CSMARTGoal>("{OLD}", "kept", "", "", "", ""));
  ASSERT_TRUE(LVSAL_GetStrategyGoals(m_connection, goals, "{S1}"));
  ASSERT_EQ(goals.size(), 3u);
  EXPECT_EQ(goals[0]->GetGoalID(), "{OLD}") << "the query appends";

  std::vector<std::array<std::string, 6>> got;
  for (std::size_t i = 1; i < goals.size(); ++i) {
    EXPECT_EQ(goals[i]->GetObjectState(), Clean);
    got.push_back(goals[i]->Values());
  }
  // Without ORDER BY the rows come in the order of the link table.
  EXPECT_EQ(got, (std::vector<std::array<std::string, 6>>{
                     {"{G2}", "Room", "Paint it", "", "", ""},
                     {"{G1}", "Meal", "Serve a meal", "Forty guests", "2027-03-31", "{P1}"},
                 }));
}

TEST_F(GoalRows, ResourcesAndTheirLinksComeInStepOneOfEachPerRow) {
  CResources resources;
  CSMARTGoalResourceXrefs links;
  ASSERT_TRUE(LVSAL_GetGoalResources(m_connection, resources, links, "{G1}"));
  ASSERT_EQ(resources.size(), 3u);
  ASSERT_EQ(links.size(), 3u);

  const std::vector<std::array<std::string, 5>> expectedResources = {
      {"{R2}", "7", "Boxes", "Archive", ""},  // ResourceEmail is not read
      {"{R1}", "2", "Cooks", "Six people", ""},
      {"{R2}", "7", "Boxes", "Archive", ""},  // the same resource linked twice
  };
  const std::vector<std::array<std::string, 3>> expectedLinks = {
      {"{G1}", "{R2}", "Link comment"},
      {"{G1}", "{R1}", ""},
      {"{G1}", "{R2}", "Second link"},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(resources[i]->Values(), expectedResources[i]) << i;
    EXPECT_EQ(links[i]->Values(), expectedLinks[i]) << i;
    EXPECT_EQ(resources[i]->GetObjectState(), Clean);
    EXPECT_EQ(links[i]->GetObjectState(), Clean);
  }
}

TEST_F(GoalRows, PlansAndTheirLinksKeepTheirOwnDescriptionsApart) {
  CStrategicPlans plans;
  CSMARTGoalPlanXrefs links;
  ASSERT_TRUE(LVSAL_GetGoalPlans(m_connection, plans, links, "{G1}"));
  ASSERT_EQ(plans.size(), 2u);
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(plans[0]->Values(), (std::array<std::string, 3>{"{L2}", "Flyers", ""}));
  EXPECT_EQ(links[0]->Values(), (std::array<std::string, 3>{"{G1}", "{L2}", "Link description"}));
  EXPECT_EQ(plans[1]->Values(), (std::array<std::string, 3>{"{L1}", "Menu", "Plan description"}));
  EXPECT_EQ(links[1]->Values(), (std::array<std::string, 3>{"{G1}", "{L1}", ""}));
  EXPECT_EQ(plans[1]->GetObjectState(), Clean);
  EXPECT_EQ(links[1]->GetObjectState(), Clean);
}

TEST_F(GoalRows, NoRowsLeaveTheCollectionsAsTheyWere) {
  CSMARTGoals goals;
  CResources resources;
  CSMARTGoalResourceXrefs resourceLinks;
  CStrategicPlans plans;
  CSMARTGoalPlanXrefs planLinks;
  EXPECT_TRUE(LVSAL_GetStrategyGoals(m_connection, goals, "{NO-SUCH-STRATEGY}"));
  EXPECT_TRUE(LVSAL_GetGoalResources(m_connection, resources, resourceLinks, "{G3}"));
  EXPECT_TRUE(LVSAL_GetGoalPlans(m_connection, plans, planLinks, "{G2}"));
  EXPECT_TRUE(goals.empty());
  EXPECT_TRUE(resources.empty());
  EXPECT_TRUE(resourceLinks.empty());
  EXPECT_TRUE(plans.empty());
  EXPECT_TRUE(planLinks.empty());
}

TEST_F(GoalRows, AFailingStatementThrowsAndKeepsWhatWasThere) {
  Exec("DROP TABLE SMARTGoalPlanXref;");
  CStrategicPlans plans;
  plans.load(std::make_unique<CStrategicPlan>("{OLD}", "kept", ""));
  CSMARTGoalPlanXrefs links;
  EXPECT_THROW(LVSAL_GetGoalPlans(m_connection, plans, links, "{G1}"), std::exception);
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0]->GetPlanID(), "{OLD}");
  EXPECT_TRUE(links.empty());
}

TEST_F(StrategyQueries, VisionAreasReplaceTheListInRowOrder) {
  Exec(
      "INSERT INTO Vision VALUES ('{V1}', 'Light', '', '', '', '', 'Open doors. ');"
      "INSERT INTO VisionFunctionalArea VALUES ('{F1}', 'Hospitality'), ('{F2}', 'Prayer');"
      "INSERT INTO VisionFunctionalAreaXRef VALUES ('{V1}', '{F2}', 'Pray. '), ('{V1}', '{F1}', 'Welcome.'),"
      " ('{V2}', '{F1}', 'Not this vision');");
  std::vector<VisionFunctionalAreaRow> rows = {{"{OLD}", "stale", "stale"}};
  ASSERT_TRUE(LVSAL_GetVisionFunctionalAreas(m_connection, "{V1}", rows));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].FunctionalAreaID, "{F2}");
  EXPECT_EQ(rows[0].FunctionalAreaDesc, "Prayer");
  EXPECT_EQ(rows[0].Paragraph, "Pray. ");
  EXPECT_EQ(rows[1].FunctionalAreaID, "{F1}");
  EXPECT_EQ(rows[1].Paragraph, "Welcome.");

  // A vision without a row of its own has no areas, whatever the link table holds.
  ASSERT_TRUE(LVSAL_GetVisionFunctionalAreas(m_connection, "{V2}", rows));
  EXPECT_TRUE(rows.empty());
}

}  // namespace
