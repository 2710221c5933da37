// Starting another program and waiting for it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct ProcessOutcome {
  bool started = false;   // false: the program could not be started at all
  int exitCode = -1;      // the exit status when it ended normally
  int signal = 0;         // the signal that ended it, if one did
  std::string error;      // why it could not be started
  // With ErrorOutput::Capture: the start of what the program wrote to its
  // standard error (at most kMaxCapturedErrorBytes), and how many lines it
  // wrote in all (a last line without a line end counts too).
  std::string errorOutput;
  std::size_t errorLines = 0;
};

inline constexpr std::size_t kMaxCapturedErrorBytes = 64 * 1024;

enum class ErrorOutput {
  Inherit,  // the program writes to this process's standard error
  Capture,  // read through a pipe while the program runs (so it never blocks
            // on a full pipe), kept in the outcome and passed on to this
            // process's standard error as well
};

// Starts `program` with `args` (not including the program name itself),
// inheriting the environment, current folder, standard input and output, and
// waits without time limit until it has ended. The arguments are separate
// texts that no shell sees, so quotes, blanks and other special characters
// reach the program unchanged. A program named without a folder is searched
// for on PATH.
ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args,
                          ErrorOutput errors = ErrorOutput::Inherit);

// As RunAndWait, but what the program writes to standard output is
// collected in `output` (the first `limit` bytes; the rest is read and
// dropped, so the program never blocks on a full pipe).
ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit = 65536);

}  // namespace platform
