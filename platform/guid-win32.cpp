#include "platform/guid.h"
#include "platform/win32_support.h"

#include <objbase.h>

#include <cstdlib>

namespace platform {

std::string NewRegistryGuid() {
  GUID id{};
  // CoCreateGuid needs no COM initialization; it fails only when the
  // system's random source does, which leaves nothing sensible to return.
  if (FAILED(::CoCreateGuid(&id))) std::abort();
  wchar_t text[39] = {};
  ::StringFromGUID2(id, text, 39);  // braces and upper-case digits already
  return win32::Utf8(text);
}

}  // namespace platform
