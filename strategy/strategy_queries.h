// The strategy queries the generic table loads cannot give: one strategy row,
// the goals linked to a strategy, a goal's resources and plans with their link
// rows, and the functional-area paragraphs of a vision.
//
// Each takes an open connection (not opened, closed or owned here), sends one
// fixed SELECT text and walks its rows in the database's order (no statement
// sorts). Identifiers put into a WHERE clause have their single quotes
// doubled; a GUID holds none, so its statement is unchanged. Values are kept
// as text. Elements are created here and handed to the caller's collection
// (its load: state Clean), which owns them. Nothing is written to the
// database or to the run log. A failing statement throws out of the gateway
// (after the database error log entry); elements appended before it stay in
// their collections.
#pragma once

#include <string>
#include <vector>

#include "bizobjects/bizobjects.h"
#include "data/db_connection.h"

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
