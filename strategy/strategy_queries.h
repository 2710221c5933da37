// The strategy queries the generic table loads cannot give: one strategy row,
// the goals linked to a strategy, a goal's resources and plans with their link
// rows, and the functional-area paragraphs of a vision.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bizobjects/bizobjects.h"
#include "data/db_connection.h"

// Each runs on the caller's open connection (not opened, closed or owned
// here) and writes nothing to the database or the run log. Elements are
// handed, in the database's row order, to the caller's collection (its load:
// state Clean), which owns them. A failing statement throws (after the
// database error log entry); elements appended before it stay.

// One functional-area paragraph of a vision.
struct VisionFunctionalAreaRow {
  std::string FunctionalAreaID;
  std::string FunctionalAreaDesc;
  std::string Paragraph;
};

// Fills `strategy` (through its setters) from the first row whose StrategyID
// names the same GUID as `strategyId` (braces and letter case ignored) and
// returns true; false, with `strategy` untouched, when no row matches.
bool LVSAL_GetStrategy(CDBConnection& connection, std::string strategyId, CStrategy& strategy);

// Appends the strategy's goals. Always true.
bool LVSAL_GetStrategyGoals(CDBConnection& connection, CSMARTGoals& goals, std::string strategyId);

// The PersonId of goal `goalId` (compared with SameGuid) among the strategy's
// goals, as the goals query finds them; none when the strategy has no such
// goal. Builds no collection, so nothing reaches standard output.
std::optional<std::string> LVSAL_GetGoalPerson(CDBConnection& connection, std::string strategyId,
                                               std::string goalId);

// Appends, per row, one resource (its own comment) to `resources` and one link
// (goal `goalId`, the link row's comment) to `resourceLinks`, in step.
// Always true.
bool LVSAL_GetGoalResources(CDBConnection& connection, CResources& resources, CSMARTGoalResourceXrefs& resourceLinks,
                            std::string goalId);

// Appends, per row, one plan (its own description) to `plans` and one link
// (goal `goalId`, the link row's description) to `planLinks`, in step.
// Always true.
bool LVSAL_GetGoalPlans(CDBConnection& connection, CStrategicPlans& plans, CSMARTGoalPlanXrefs& planLinks,
                        std::string goalId);

// Replaces `rows` with the vision's functional-area paragraphs. Always true.
bool LVSAL_GetVisionFunctionalAreas(CDBConnection& connection, std::string visionId,
                                    std::vector<VisionFunctionalAreaRow>& rows);
