// What a goal status update adds to its task, whichever store keeps it.
#pragma once

#include <cstdint>
#include <string>

// What a status update appends to its task's body, with CR LF line breaks:
// the percentage and the day it was processed, then `comment` as given.
std::string GoalStatusUpdateText(int32_t percent, const std::string& comment);
