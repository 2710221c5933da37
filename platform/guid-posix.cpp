#include "platform/guid.h"

#include <uuid/uuid.h>

namespace platform {

std::string NewRegistryGuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return "{" + std::string(text) + "}";
}

}  // namespace platform
