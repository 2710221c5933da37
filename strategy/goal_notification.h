// Goal notification (command 1): every goal of a strategy, or the one goal
// named by goalFilter, is described in an e-mail to its responsible person.
#pragma once

#include <string>

#include "app/run_log.h"

bool LVML_SendStatusEmails(std::string goalFilter, RunLog* runLog, std::string strategyId);
