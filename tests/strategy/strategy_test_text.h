// Texts the strategy tests expect, written out independently of the code:
// the statements the database receives, and the goal e-mail's fixed parts as
// composed in memory (before line breaks are normalised).
#pragma once

#include <string>
#include <vector>

namespace strategy_test {

// The statements of the strategy queries, piece by piece, for identifier `id`.
inline std::string StrategyStatement(const std::string& id) {
  return std::string("SELECT ") + "StrategyID, " + "StrategyTitle, " + "StrategyDesc  " + "FROM " + "Strategy " +
         "WHERE StrategyID = '" + id + "'";
}
inline std::string GoalsStatement(const std::string& id) {
  return std::string("SELECT g.GoalID, g.GoalTitle, g.GoalDesc, ") + "g.SuccessDesc, g.DueDate, g.PersonId " +
         "FROM Strategy s " + "INNER JOIN StrategyGoalXRef XRef " + "ON XRef.StrategyID = s.StrategyID " +
         "INNER JOIN SMARTGoal g " + "ON g.GoalID = XRef.GoalID " + "where s.StrategyID = '" + id + "' ";
}
inline std::string ResourcesStatement(const std::string& id) {
  return std::string("SELECT ") + "r.ResourceID, r.ResourceType, r.ResourceName, r.Comment, " +
         "xref.Comment as Comment2 " + "FROM SMARTGoal g " +
         "INNER JOIN SMARTGoalResourceXref xref ON xref.GoalID = g.GoalID " +
         "INNER JOIN Resource r ON r.ResourceID = xref.ResourceID " + " WHERE g.GoalID = '" + id + "'";
}
inline std::string PlansStatement(const std::string& id) {
  return std::string("SELECT ") + "p.PlanID, p.PlanName, p.PlanDesc, " + "xref.PlanDesc AS PlanDesc2 " +
         "FROM SMARTGoal g " + "INNER JOIN SMARTGoalPlanXref xref ON xref.GoalID = g.GoalID " +
         "INNER JOIN StrategicPlan p ON p.PlanID = xref.PlanID " + " WHERE g.GoalID = '" + id + "'";
}
inline std::string AreasStatement(const std::string& id) {
  return std::string("SELECT ") + "func.FunctionalAreaID, func.FunctionalAreaDesc, xref.Paragraph " + "FROM Vision v " +
         "INNER JOIN VisionFunctionalAreaXRef xref " + "ON xref.VisionID = v.VisionID " +
         "INNER JOIN VisionFunctionalArea func " + "ON func.FunctionalAreaID = xref.FunctionalAreaID " +
         "WHERE v.VisionID = '" + id + "'";
}

// The statements of the other loads the strategy model makes.
inline std::string PersonStatement(const std::string& id) {
  return "SELECT PersonID, FirstName, MiddleName, LastName, Email, HomePhone, WorkPhone, OtherPhone, Addr1, Addr2, "
         "City, State, Zip  FROM Person WHERE PersonID = '" +
         id + "'";
}
inline constexpr const char kPlanCatalogStatement[] = "SELECT PlanID, PlanName, PlanDesc  FROM StrategicPlan";
inline constexpr const char kResourceCatalogStatement[] =
    "SELECT ResourceID, ResourceType, ResourceName, Comment, ResourceEmail  FROM Resource";
inline constexpr const char kVisionLinksStatement[] = "SELECT StrategyID, VisionID  FROM StrategyVisionXref";
inline constexpr const char kVisionsStatement[] =
    "SELECT VisionID, Title, VisionFromGod, PeopleDesc, EnvironmentDesc, UrgencyDesc, OpeningParagraph  FROM Vision";

// The demo database's strategy, its goals and their persons, in load order.
inline constexpr const char kDemoStrategy[] = "{E2F3A4B5-7C8D-4E9F-A0B1-C2D3E4F5A6B7}";
inline constexpr const char kDemoGoal1[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";
inline constexpr const char kDemoGoal2[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}";
inline constexpr const char kDemoGoal3[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0003}";
inline const std::vector<std::string> kDemoGoalPersons = {"{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B03}",
                                                          "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B02}",
                                                          "{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B05}"};

// Everything loading the demo strategy into a model sends, in order.
inline std::vector<std::string> DemoModelLoadStatements() {
  std::vector<std::string> statements = {StrategyStatement(kDemoStrategy), kPlanCatalogStatement,
                                         kResourceCatalogStatement, GoalsStatement(kDemoStrategy)};
  for (const std::string& person : kDemoGoalPersons) statements.push_back(PersonStatement(person));
  for (const char* goal : {kDemoGoal1, kDemoGoal2, kDemoGoal3}) {
    statements.push_back(ResourcesStatement(goal));
    statements.push_back(PlansStatement(goal));
  }
  statements.push_back(kVisionLinksStatement);
  statements.push_back(kVisionsStatement);
  statements.push_back(AreasStatement("{B0000001-0000-4000-8000-000000000001}"));
  return statements;
}

// The goal e-mail up to its first resource heading.
inline std::string ExpectedBodyHead(const std::string& title, const std::string& description,
                                    const std::string& dueDate, const std::string& successCriteria) {
  return "Lumenvale Goal Notification\r\n\r\n"
         "This email was sent by Lumenvale, to let you know you have been assigned responsibility for the "
         "following strategic goal:\n\r\n\r"
         "TITLE:          " +
         title + "\r\n\r\nDESCRIPTION:    " + description + "\r\n\r\nDUE DATE: " + dueDate +
         "\r\n\r\nSUCCESS CRITERIA:  \t\t" + successCriteria + "\n\r\n\rRESOURCES NEEDED: \r\n";
}

inline std::string ExpectedInstructions() {
  return "This email is intended as an initial notification to you.  However, you may optionally wish to provide an "
         "initial completion percentage and a comment to benefit the sender.  If you wish to provide this "
         "information, follow these steps.  Please type in status as a percentage, from 0 to 100.  0% means you "
         "have not yet started on the goal.  100% means the goal has been fully accomplished.  Place your "
         "percentage between the <status> </status> fields.  \r\n"
         "Example:  <status> 25 </status>\r\n"
         "This would signify that you are 25% finished with this goal.\n\r\n\r"
         "There is also a place to type in a comment, should you desire to do so.\n\r\n\r\n\r"
         "PLEASE ENTER YOUR STATUS AND AN OPTIONAL COMMENT BELOW\n\r\n\r"
         "<Status> </Status>\n\r"
         "<Comment> </Comment>\n\r\n\r\n\r"
         "Thank you\n\r\n\r\n\r\n\r\n\r"
         "NOTE:  The information below is used by Lumenvale and must not be deleted.\n\r";
}

// The footer that carries the identifiers back in the reply.
inline std::string ExpectedFooter(const std::string& strategyId, const std::string& goalId) {
  return "<StrategyId>" + strategyId + "</StrategyId>\n\r<GoalId>" + goalId + "</GoalId>\n\r";
}

}  // namespace strategy_test
