// The test program doubles as the child the platform tests start: run with
// kChildFlag and a task as its first two arguments, it does the task and ends
// before any test runs. So every system starts the same child, built the
// same way, with no script or shell in between.
#pragma once

#include <string>
#include <vector>

namespace platform_test {

inline constexpr const char* kChildFlag = "--platform-test-child";

// The arguments that start this program as the child doing `task`:
//   echo ARG...       prints each ARG as "[ARG]" on a line of standard output
//   stderr TEXT CODE  writes TEXT to standard error and exits with CODE
//   sleep             waits a minute
//   report NAME FILE  prints "NAME=<value>" (or "NAME unset") and the content
//                     of FILE in its current folder (or "FILE missing"),
//                     writes "reported" to standard error and exits with 3
//   crash-memory      writes through a null pointer
//   crash-instruction runs an invalid instruction
//   alert CAPTION MESSAGE  shows the error alert
//   detach TASK ARG...  starts this program detached doing TASK with the
//                     ARGs (platform::StartDetached), prints "detached" and
//                     exits with 0 (1 and the reason when it cannot)
//   write-later SECONDS FILE ARG...  waits SECONDS, then writes each ARG as
//                     "[ARG]" on a line into FILE, all at once
std::vector<std::string> ChildArguments(const std::string& task, const std::vector<std::string>& more = {});

// This test program's own path, as the child's program name.
std::string Self();

// A new empty folder under the system's temporary folder, removed with all
// it holds when the object goes.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return m_path; }
  // `name` inside the folder.
  std::string file(const std::string& name) const;

 private:
  std::string m_path;
};

}  // namespace platform_test
