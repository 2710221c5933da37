#include "strategy/strategy_queries.h"

#include <memory>
#include <optional>
#include <utility>

#include "data/row_walk.h"
#include "util/identifiers.h"

// Each query sends one fixed SELECT text; none sorts, so rows come in the
// database's order. Values are kept as text. Identifiers put into a WHERE
// clause have their single quotes doubled; a GUID holds none, so its
// statement is unchanged.

bool LVSAL_GetStrategy(CDBConnection& connection, std::string strategyId, CStrategy& strategy) {
  bool found = false;
  ForEachResultRow(
      connection,
      "SELECT StrategyID, StrategyTitle, StrategyDesc  FROM Strategy WHERE StrategyID = '" +
          WithQuotesDoubled(strategyId) + "'",
      [&](const CVistaResults& row) {
        const std::string id = row.GetField(1);
        if (!SameGuid(id, strategyId)) return true;
        strategy.SetStrategyID(id);
        strategy.SetStrategyTitle(row.GetField(2));
        strategy.SetStrategyDesc(row.GetField(3));
        found = true;
        return false;
      });
  return found;
}

namespace {

std::string StrategyGoalsSql(const std::string& strategyId) {
  return "SELECT g.GoalID, g.GoalTitle, g.GoalDesc, g.SuccessDesc, g.DueDate, g.PersonId FROM Strategy s "
         "INNER JOIN StrategyGoalXRef XRef ON XRef.StrategyID = s.StrategyID INNER JOIN SMARTGoal g ON g.GoalID "
         "= XRef.GoalID where s.StrategyID = '" +
         WithQuotesDoubled(strategyId) + "' ";
}

}  // namespace

std::optional<std::string> LVSAL_GetGoalPerson(CDBConnection& connection, std::string strategyId,
                                               std::string goalId) {
  std::optional<std::string> personId;
  ForEachResultRow(connection, StrategyGoalsSql(strategyId), [&](const CVistaResults& row) {
    if (SameGuid(row.GetField(1), goalId)) personId = row.GetField(6);
    return !personId;
  });
  return personId;
}

bool LVSAL_GetStrategyGoals(CDBConnection& connection, CSMARTGoals& goals, std::string strategyId) {
  ForEachResultRow(
      connection, StrategyGoalsSql(strategyId),
      [&](const CVistaResults& row) {
        goals.load(std::make_unique<CSMARTGoal>(row.GetField(1), row.GetField(2), row.GetField(3), row.GetField(4),
                                                row.GetField(5), row.GetField(6)));
      });
  return true;
}

bool LVSAL_GetGoalResources(CDBConnection& connection, CResources& resources, CSMARTGoalResourceXrefs& resourceLinks,
                            std::string goalId) {
  ForEachResultRow(
      connection,
      "SELECT r.ResourceID, r.ResourceType, r.ResourceName, r.Comment, xref.Comment as Comment2 FROM "
      "SMARTGoal g INNER JOIN SMARTGoalResourceXref xref ON xref.GoalID = g.GoalID INNER JOIN Resource r ON "
      "r.ResourceID = xref.ResourceID  WHERE g.GoalID = '" +
          WithQuotesDoubled(goalId) + "'",
      [&](const CVistaResults& row) {
        auto resource = std::make_unique<CResource>();
        resource->SetResourceID(row.GetField(1));
        resource->SetResourceType(row.GetField(2));
        resource->SetResourceName(row.GetField(3));
        resource->SetComment(row.GetField(4));
        resources.load(std::move(resource));

        auto link = std::make_unique<CSMARTGoalResourceXref>();
        link->SetGoalID(goalId);
        link->SetResourceID(row.GetField(1));
        link->SetComment(row.GetField(5));
        resourceLinks.load(std::move(link));
      });
  return true;
}

bool LVSAL_GetGoalPlans(CDBConnection& connection, CStrategicPlans& plans, CSMARTGoalPlanXrefs& planLinks,
                        std::string goalId) {
  ForEachResultRow(
      connection,
      "SELECT p.PlanID, p.PlanName, p.PlanDesc, xref.PlanDesc AS PlanDesc2 FROM SMARTGoal g INNER JOIN "
      "SMARTGoalPlanXref xref ON xref.GoalID = g.GoalID INNER JOIN StrategicPlan p ON p.PlanID = xref.PlanID "
      " WHERE g.GoalID = '" +
          WithQuotesDoubled(goalId) + "'",
      [&](const CVistaResults& row) {
        auto plan = std::make_unique<CStrategicPlan>();
        plan->SetPlanID(row.GetField(1));
        plan->SetPlanName(row.GetField(2));
        plan->SetPlanDesc(row.GetField(3));
        plans.load(std::move(plan));

        auto link = std::make_unique<CSMARTGoalPlanXref>();
        link->SetGoalID(goalId);
        link->SetPlanID(row.GetField(1));
        link->SetPlanDesc(row.GetField(4));
        planLinks.load(std::move(link));
      });
  return true;
}

bool LVSAL_GetVisionFunctionalAreas(CDBConnection& connection, std::string visionId,
                                    std::vector<VisionFunctionalAreaRow>& rows) {
  rows.clear();
  ForEachResultRow(
      connection,
      "SELECT func.FunctionalAreaID, func.FunctionalAreaDesc, xref.Paragraph FROM Vision v INNER JOIN "
      "VisionFunctionalAreaXRef xref ON xref.VisionID = v.VisionID INNER JOIN VisionFunctionalArea func ON "
      "func.FunctionalAreaID = xref.FunctionalAreaID WHERE v.VisionID = '" +
          WithQuotesDoubled(visionId) + "'",
      [&](const CVistaResults& row) {
        rows.push_back({row.GetField(1), row.GetField(2), row.GetField(3)});
      });
  return true;
}
