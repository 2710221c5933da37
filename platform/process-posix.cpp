#include "platform/process.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// Starts the program, with `actions` applied in the child (may be null).
bool Spawn(const std::string& program, const std::vector<std::string>& args,
           const posix_spawn_file_actions_t* actions, pid_t& pid, ProcessOutcome& outcome) {
  std::vector<std::string> argvText;
  argvText.reserve(args.size() + 1);
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  // posix_spawnp reports a program that cannot be executed (missing, not
  // executable) as its own result, so "not started" is known here.
  int rc = posix_spawnp(&pid, program.c_str(), actions, nullptr, argv.data(), environ);
  if (rc != 0) {
    outcome.error = std::strerror(rc);
    return false;
  }
  outcome.started = true;
  return true;
}

void Wait(pid_t pid, ProcessOutcome& outcome) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return;
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
}

}  // namespace

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  ProcessOutcome outcome;
  pid_t pid = 0;
  if (Spawn(program, args, nullptr, pid, outcome)) Wait(pid, outcome);
  return outcome;
}

ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit) {
  ProcessOutcome outcome;
  output.clear();
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    outcome.error = std::strerror(errno);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  pid_t pid = 0;
  const bool started = Spawn(program, args, &actions, pid, outcome);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (started) {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      output.append(buffer, std::min(static_cast<size_t>(n), limit - std::min(limit, output.size())));
    }
    Wait(pid, outcome);
  }
  ::close(pipeEnds[0]);
  return outcome;
}

}  // namespace platform
