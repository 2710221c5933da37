#include "platform/alert.h"

#include <cstdio>

namespace platform {

void ShowErrorAlert(const std::string& caption, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n%s\n", caption.c_str(), message.c_str());
  std::fflush(stderr);
}

}  // namespace platform
