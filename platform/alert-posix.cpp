#include "platform/alert.h"

#include <cstdio>

namespace platform {

// No box here: the program runs from a terminal or from the application
// without a desktop of its own.
bool OnVisibleDesktop() { return false; }

void ShowErrorAlert(const std::string& caption, const std::string& message) {
  DeliverAlert(OnVisibleDesktop(), [] { return false; }, [&] {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), message.c_str());
    std::fflush(stderr);
  });
}

}  // namespace platform
