#include "platform/console.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

void PrepareStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace platform
