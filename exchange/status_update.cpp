#include "exchange/status_update.h"

#include "util/dates.h"

namespace exchange {

std::string GoalStatusUpdateText(int32_t percent, const std::string& comment) {
  return "\r\nPercentage complete updated to " + std::to_string(percent) + "\r\nUpdate processed on " +
         FormatDateOnly(CurrentDate()) + ": " + comment;
}

}  // namespace exchange
