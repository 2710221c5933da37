// Goal notification (command 1): the responsible person of every goal of a
// strategy, or of the one goal named by a goal filter, gets one e-mail that
// describes the goal and asks for a completion percentage and a comment
// between tags; the reply carries the strategy and goal identifiers back in
// tags at its end.
//
// LVML_SendStatusEmails loads the strategy into a CStrategyModel, then, per
// goal in load order, writes one outgoing exchange file naming exactly one
// recipient (the goal's person), runs the mail-access program on it with
// operation 1 and the subject "Corvane Strategy: New Goal: " + title, and
// deletes the file. A goal whose person is not found (or that has no person)
// is skipped without a word. A strategy that is not found, or a goal filter
// that matches no goal of it, sends nothing and says so in the run log.
// Database failures throw (the gateway has logged them) and end the workflow;
// e-mails handed over before stay sent. The result is always true.
#pragma once

#include <string>
#include <vector>

#include "strategy/strategy_model.h"
#include "util/run_log.h"

// `goalFilter` empty: every goal; otherwise only the goal with that
// identifier (braces and letter case ignored). `runLog` may be null.
bool LVML_SendStatusEmails(std::string goalFilter, RunLog* runLog, std::string strategyId);

// The resource type table: the headings resources are listed under, in the
// order they are written.
std::vector<ResourceType> GoalResourceTypes();

// The goal e-mail's body as composed in memory, before the line-break
// normaliser sees it on the way to the exchange file.
std::string ComposeGoalBody(const CStrategyModel& model, const CSmartGoal& goal);
