// The goal e-mail's body as composed in memory.
#include <gtest/gtest.h>

#include <string>

#include "strategy/goal_notification.h"
#include "strategy_test_text.h"
#include "test_support.h"
#include "util/dates.h"

namespace {

using testing_support::Visible;

using strategy_test::ExpectedBodyHead;
using strategy_test::ExpectedInstructions;

class GoalBody : public ::testing::Test {
 protected:
  void SetUp() override {
    model.strategyId = "e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7";  // as typed on the command line
    model.resourceTypes = GoalResourceTypes();
    goal.goalId = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";
    goal.title = "Launch a <monthly> meal & more";
    goal.description = "Serve a free hot meal.\r\nEvery month.";
    goal.successCriteria = "Forty guests";
    ASSERT_TRUE(ParseDateOnly("2027-03-31", goal.dueDate));
  }

  void AddResource(const char* name, int32_t type, const char* text) {
    goal.resources.Items().push_back({"{R}", name, 0, true, type, text});
  }
  void AddPlan(const char* name, const char* text) { goal.plans.Items().push_back({"{P}", name, 0, true, 0, text}); }

  CStrategyModel model;
  CSmartGoal goal{"placeholder"};
};

TEST_F(GoalBody, ListsResourcesUnderTheirTypeHeadingsAndPlansInOrder) {
  AddResource("Cooks", 2, "Six people");
  AddResource("Ovens", 1, "Two");
  AddResource("Archive boxes", 7, "never written");
  AddResource("Drivers", 2, "");
  AddResource("Budget", 4, "$300 - monthly");
  AddPlan("Menu planning", "Soup first");
  AddPlan("Invitations", "");

  const std::string expected =
      ExpectedBodyHead("Launch a <monthly> meal & more", "Serve a free hot meal.\r\nEvery month.", "2027-03-31",
                       "Forty guests") +
      "    Equipment\r\n"
      "        Ovens - Two\r\n"
      "    Person\r\n"
      "        Cooks - Six people\r\n"
      "        Drivers - \r\n"
      "    Building\r\n"
      "    Financial\r\n"
      "        Budget - $300 - monthly\r\n"
      "    Other\r\n"
      "\r\n\r\nPLANS\r\n"
      "\tMenu planning - Soup first\r\n"
      "\tInvitations - \r\n"
      "\r\n\r\n" +
      ExpectedInstructions() +
      "<StrategyId>e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7</StrategyId>\n\r"
      "<GoalId>{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}</GoalId>\n\r";
  EXPECT_EQ(Visible(ComposeGoalBody(model, goal)), Visible(expected));
}

TEST_F(GoalBody, AGoalWithoutResourcesOrPlansStillListsEveryHeading) {
  const std::string expected =
      ExpectedBodyHead("Launch a <monthly> meal & more", "Serve a free hot meal.\r\nEvery month.", "2027-03-31",
                       "Forty guests") +
      "    Equipment\r\n    Person\r\n    Building\r\n    Financial\r\n    Other\r\n"
      "\r\n\r\nPLANS\r\n\r\n\r\n" +
      ExpectedInstructions() +
      "<StrategyId>e2f3a4b5-7c8d-4e9f-a0b1-c2d3e4f5a6b7</StrategyId>\n\r"
      "<GoalId>{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}</GoalId>\n\r";
  EXPECT_EQ(Visible(ComposeGoalBody(model, goal)), Visible(expected));
}

TEST_F(GoalBody, DueDatesAreWrittenAsTheDateFormatterRendersThem) {
  struct Case {
    DateValue date;
    const char* text;
  } cases[] = {
      {{0, DateStatus::Invalid}, "Invalid DateTime"},
      {{46000.75, DateStatus::Null}, ""},
      {{46000.75, DateStatus::Valid}, "2025-12-09"},  // the time of day is not shown
  };
  for (const Case& c : cases) {
    goal.dueDate = c.date;
    const std::string body = ComposeGoalBody(model, goal);
    EXPECT_NE(body.find(std::string("\r\n\r\nDUE DATE: ") + c.text + "\r\n\r\nSUCCESS CRITERIA:  "), std::string::npos)
        << c.text;
  }
}

TEST_F(GoalBody, OnlyTheTypesOfTheTableAreWritten) {
  model.resourceTypes = {{7, "Archive"}};
  AddResource("Boxes", 7, "kept");
  AddResource("Ovens", 1, "not in this table");
  const std::string body = ComposeGoalBody(model, goal);
  EXPECT_NE(body.find("RESOURCES NEEDED: \r\n    Archive\r\n        Boxes - kept\r\n\r\n\r\nPLANS"), std::string::npos)
      << Visible(body);
  EXPECT_EQ(body.find("Ovens"), std::string::npos);
}

}  // namespace
