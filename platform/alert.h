// The one message a person is shown when something needs their attention.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Where a desktop is on screen for a person (an interactive session with a
// visible desktop) this is a modal box with the caption and the message.
// Anywhere else, such as a service or a session nobody sees, where a box
// would wait forever for someone to close it, and also when the box cannot
// be shown, the two lines, the caption and then the message, go to standard
// error. So an unattended run never waits for a person, and this never
// fails.
void ShowErrorAlert(const std::string& caption, const std::string& message);

// True when a box shown now would be seen by a person: the process runs in
// an interactive session on a visible desktop.
bool OnVisibleDesktop();

// The choice ShowErrorAlert makes, apart from the system's calls so that
// both ways can be tried: `showBox` only when `visibleDesktop`, and
// `writeLines` when there is none or `showBox` said the box could not be
// shown. True when the box was shown.
inline bool DeliverAlert(bool visibleDesktop, const std::function<bool()>& showBox,
                         const std::function<void()>& writeLines) {
  if (visibleDesktop && showBox()) return true;
  writeLines();
  return false;
}

}  // namespace platform
