// The one message a person is shown when something needs their attention.
#pragma once

#include <string>

namespace platform {

// On a desktop system this is a modal box; here it is written to standard
// error as two lines, the caption and then the message. It never waits for a
// person and never fails.
void ShowErrorAlert(const std::string& caption, const std::string& message);

}  // namespace platform
