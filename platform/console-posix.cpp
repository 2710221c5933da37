#include "platform/console.h"

namespace platform {

// The streams already pass bytes unchanged, and terminals take UTF-8.
void PrepareStandardStreams() {}

}  // namespace platform
