// Goal notification (command 1): the responsible person of each goal of a
// strategy gets one e-mail that describes the goal and asks for a completion
// percentage and a comment between tags.
#pragma once

#include <string>
#include <vector>

#include "strategy/strategy_model.h"
#include "util/run_log.h"

// Sends one e-mail per goal, in load order, to the goal's responsible person
// alone (operation 1, subject "Corvane Strategy: New Goal: " + title, the
// mailing named "goal {ID}"; a rerun asks for a fresh status); a goal
// whose person was not found, or that has none, is passed over without a word.
// `goalFilter` empty: every goal; otherwise only the goal with that
// identifier (braces and letter case ignored). A strategy that is not found,
// or a filter that matches no goal of it, sends nothing and adds nothing to
// the run log. `runLog` may be null. Database failures throw (the gateway has
// logged them); e-mails handed over before stay sent. Always true.
bool LVML_SendStatusEmails(std::string goalFilter, RunLog* runLog, std::string strategyId);

// The resource type table: the headings resources are listed under, in the
// order they are written.
std::vector<ResourceType> GoalResourceTypes();

// The goal e-mail's body as composed in memory, before the line-break
// normaliser sees it on the way to the exchange file. It ends with the
// strategy and goal identifiers in tags, which the reply carries back.
std::string ComposeGoalBody(const CStrategyModel& model, const CSmartGoal& goal);
