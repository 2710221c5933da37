// Starting another program and waiting for it, letting it run in the
// background while the caller watches it, or leaving it to run on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct ProcessOutcome {
  bool started = false;   // false: the program could not be started at all
  int exitCode = -1;      // the exit status when it ended normally
  // The signal that ended it, if one did. Where the system ends crashed
  // programs with an exception code instead of a signal, the code is told
  // as the POSIX signal of the same fault (an invalid memory access or a
  // stack overflow 11, an illegal instruction 4, a division fault 8, a
  // fail-fast abort 6; a program ended by BackgroundProcess::Kill 9) and
  // exitCode stays -1; every other code is the exit status.
  int signal = 0;
  std::string error;      // why it could not be started
  // With ErrorOutput::Capture: the start of what the program wrote to its
  // standard error (at most kMaxCapturedErrorBytes), and how many lines it
  // wrote in all (a last line without a line end counts too).
  std::string errorOutput;
  std::size_t errorLines = 0;
  // With StandardOutput::Capture: the start of what the program wrote to its
  // standard output (at most kMaxCapturedOutputBytes).
  std::string output;
};

inline constexpr std::size_t kMaxCapturedErrorBytes = 64 * 1024;
inline constexpr std::size_t kMaxCapturedOutputBytes = 64 * 1024;

enum class ErrorOutput {
  Inherit,  // the program writes to this process's standard error
  Capture,  // read through a pipe while the program runs (so it never blocks
            // on a full pipe), kept in the outcome and passed on to this
            // process's standard error as well
};

enum class StandardOutput {
  Inherit,  // the program writes to this process's standard output
  Capture,  // read through a pipe while the program runs and kept in the
            // outcome, not passed on
};

// Starts `program` with `args` (not including the program name itself),
// inheriting the environment, current folder, standard input and output, and
// waits without time limit until it has ended. The arguments are separate
// texts that no shell sees, so quotes, blanks and other special characters
// reach the program unchanged (where the system passes one command line,
// it is quoted so that the program's C runtime reads the same texts back).
// A program named without a folder is searched for on PATH (and, where the
// system does so, in the running program's folder first, with ".exe"
// added).
ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args,
                          ErrorOutput errors = ErrorOutput::Inherit, StandardOutput output = StandardOutput::Inherit);

// The name to start the program `name` by, so that the copy installed beside
// the running program wins and PATH decides only when there is none: that
// copy's full path, or else the name as a program file of the system
// ("LVEmailAccess.exe" on Windows).
std::string SiblingProgram(const std::string& name);

// As RunAndWait, but what the program writes to standard output is
// collected in `output` (the first `limit` bytes; the rest is read and
// dropped, so the program never blocks on a full pipe).
ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit = 65536);

// Starts `program` with `args` (as RunAndWait takes them) for work that is
// to outlive this process, and returns at once: nobody waits for it, and it
// belongs to no console, session, process group or job of this process, so
// closing those does not end it. Its standard streams are the null device
// and it inherits no other file, pipe or handle of this process: whoever
// reads this process's output through pipes sees them end when this process
// ends, not when the detached program does. False, with the reason in
// `error`, when it could not be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::string* error = nullptr);

// A program running in the background while the caller goes on, for callers
// that watch it or end it while it works. A child still running when the
// object goes is ended at once and waited for.
class BackgroundProcess {
 public:
  struct Options {
    // Added to the inherited environment, replacing a variable of the same
    // name.
    std::vector<std::pair<std::string, std::string>> environment;
    std::string workDir;     // the child's current folder; empty: the caller's
    std::string outputFile;  // standard output goes there (created or emptied); empty: inherited
    std::string errorFile;   // standard error likewise
  };

  BackgroundProcess() = default;
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // Starts `program` with `args` as RunAndWait does, without waiting. File
  // names and a program path relative to a folder are taken from the
  // caller's current folder, not from `workDir`. False with `error` when the
  // program or its output files cannot be started or opened; one object
  // starts one program.
  bool Start(const std::string& program, const std::vector<std::string>& args, const Options& options,
             std::string* error = nullptr);
  // True until the program has ended.
  bool Running();
  // Ends the program at once, as a crash would: it cannot clean up.
  void Kill();
  // Waits until the program has ended (at once when it has); a killed one
  // reports signal 9. Not started: started is false.
  ProcessOutcome Wait();

 private:
  std::intptr_t m_process = -1;  // the child as the system names it; -1: none
  bool m_ended = false;
  ProcessOutcome m_outcome;
};

}  // namespace platform
