#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace platform {
namespace {

// Both ends of a pipe, closed when it goes.
struct Pipe {
  int read = -1, write = -1;
  ~Pipe() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
  }
  void CloseWrite() {
    ::close(write);
    write = -1;
  }
};

// Keeps the first bytes of the child's standard error, counts its lines and
// passes everything on to our own standard error, where a person at a
// terminal expects it. A closed standard error of ours must not end this
// process, so SIGPIPE is ignored while passing on.
void DrainErrors(int fd, ProcessOutcome& outcome) {
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  char buffer[8192];
  bool lastEndedLine = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const std::size_t room = kMaxCapturedErrorBytes - std::min(kMaxCapturedErrorBytes, outcome.errorOutput.size());
    outcome.errorOutput.append(buffer, std::min<std::size_t>(room, n));
    outcome.errorLines += std::count(buffer, buffer + n, '\n');
    lastEndedLine = buffer[n - 1] == '\n';
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(STDERR_FILENO, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += w;
    }
  }
  if (!lastEndedLine) ++outcome.errorLines;
  sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args, ErrorOutput errors) {
  ProcessOutcome outcome;
  std::vector<std::string> argvText;
  argvText.reserve(args.size() + 1);
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  Pipe pipe;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (errors == ErrorOutput::Capture) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      outcome.error = std::string("cannot make a pipe for its standard error: ") + std::strerror(errno);
      posix_spawn_file_actions_destroy(&actions);
      return outcome;
    }
    pipe.read = fds[0];
    pipe.write = fds[1];
    // dup2 clears close-on-exec on the copy, so only standard error survives.
    posix_spawn_file_actions_adddup2(&actions, pipe.write, STDERR_FILENO);
  }

  pid_t pid = 0;
  // posix_spawnp reports a program that cannot be executed (missing, not
  // executable) as its own result, so "not started" is known here.
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    outcome.error = std::strerror(rc);
    return outcome;
  }
  outcome.started = true;
  if (errors == ErrorOutput::Capture) {
    pipe.CloseWrite();  // so the read ends when the child (and its children) close theirs
    DrainErrors(pipe.read, outcome);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return outcome;
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace platform
