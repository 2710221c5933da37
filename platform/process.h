// Starting another program and waiting for it.
//
// The program is started directly with its arguments as separate texts; no
// shell sees them, so quotes, blanks and other special characters in an
// argument reach the program unchanged. A program named without a folder is
// searched for on PATH.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ProcessOutcome {
  bool started = false;   // false: the program could not be started at all
  int exitCode = -1;      // the exit status when it ended normally
  int signal = 0;         // the signal that ended it, if one did
  std::string error;      // why it could not be started
};

// Starts `program` with `args` (not including the program name itself),
// inheriting the environment, current folder and standard streams, and waits
// without time limit until it has ended.
ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args);

// As RunAndWait, but what the program writes to standard output is
// collected in `output` (the first `limit` bytes; the rest is read and
// dropped, so the program never blocks on a full pipe).
ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit = 65536);

}  // namespace platform
