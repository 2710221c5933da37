// What a goal status update adds to its task, whichever store keeps it:
// LvMAPI's own (Outlook, the iCalendar folder) and the mailbox's tasks the
// mail-access program updates, so a task reads alike wherever it lives.
#pragma once

#include <cstdint>
#include <string>

namespace exchange {

// What a status update appends to its task's body, with CR LF line breaks:
// the percentage and the day it was processed, then `comment` as given.
std::string GoalStatusUpdateText(int32_t percent, const std::string& comment);

}  // namespace exchange
