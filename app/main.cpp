// LvMAPI: the e-mail companion of the church-management application.
//   LvMAPI <database> <cmd> [guid1 [guid2]]
#include <cstdio>
#include <exception>

#include "app/lvmapi.h"
#include "exchange/operations.h"
#include "platform/console.h"
#include "platform/local_date.h"
#include "platform/memory.h"
#include "tarnbase/tarnbase.h"

int main(int argc, char** argv) {
  platform::PrepareStandardStreams();
  platform::KeepFreedMemoryForReuse();
  // Dates follow the user's locale; C++ streams keep the classic locale, so
  // numbers in logs and SQL are never grouped.
  platform::TakeUserLocale();
  try {
    return LvMAPIMain(argc, argv);
  } catch (const DatabaseInUseError& e) {
    // Nothing was changed; a later run does the work.
    std::fflush(stdout);
    std::fprintf(stderr, "LvMAPI: %s\n", e.what());
    return exchange::kExitTemporary;
  } catch (const std::exception& e) {
    // The run log has been written; end abnormally, without a core dump.
    std::fflush(stdout);
    std::fprintf(stderr, "LvMAPI: %s\n", e.what());
    return exchange::kExitFailure;
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "LvMAPI: unknown failure\n");
    return exchange::kExitFailure;
  }
}
