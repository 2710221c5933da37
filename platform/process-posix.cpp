#include "platform/process.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform {

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  ProcessOutcome outcome;
  std::vector<std::string> argvText;
  argvText.reserve(args.size() + 1);
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  // posix_spawnp reports a program that cannot be executed (missing, not
  // executable) as its own result, so "not started" is known here.
  int rc = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    outcome.error = std::strerror(rc);
    return outcome;
  }
  outcome.started = true;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return outcome;
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace platform
