#include "platform/process.h"
#include "platform/posix_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

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
  bool Open(ProcessOutcome& outcome) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      outcome.error = std::string("cannot make a pipe: ") + std::strerror(errno);
      return false;
    }
    read = fds[0];
    write = fds[1];
    return true;
  }
  void CloseWrite() {
    ::close(write);
    write = -1;
  }
};

// Starts the program with `actions` applied in the child (may be null).
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
  const int rc = posix_spawnp(&pid, program.c_str(), actions, nullptr, argv.data(), environ);
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

// Runs the program with `stream` of the child on a pipe, which is read to
// its end while the program runs (so it never blocks on a full pipe): the
// first `limit` bytes are kept in `kept`, and every chunk is shown to `seen`.
ProcessOutcome RunWithPipe(const std::string& program, const std::vector<std::string>& args, int stream,
                           std::string& kept, size_t limit, const std::function<void(const char*, size_t)>& seen) {
  ProcessOutcome outcome;
  kept.clear();
  Pipe pipe;
  if (!pipe.Open(outcome)) return outcome;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy, so only that stream survives.
  posix_spawn_file_actions_adddup2(&actions, pipe.write, stream);
  pid_t pid = 0;
  const bool started = Spawn(program, args, &actions, pid, outcome);
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return outcome;
  pipe.CloseWrite();  // so the read ends when the child (and its children) close theirs
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(pipe.read, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    kept.append(buffer, std::min(static_cast<size_t>(n), limit - std::min(limit, kept.size())));
    if (seen) seen(buffer, static_cast<size_t>(n));
  }
  Wait(pid, outcome);
  return outcome;
}

// Passes the child's standard error on to ours, where a person at a
// terminal expects it. A closed standard error of ours must not end this
// process, so SIGPIPE is ignored meanwhile.
class ErrorRelay {
 public:
  ErrorRelay() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &m_previous);
  }
  ~ErrorRelay() { sigaction(SIGPIPE, &m_previous, nullptr); }

  void Pass(const char* data, size_t size) {
    m_lines += std::count(data, data + size, '\n');
    m_endedLine = data[size - 1] == '\n';
    // What cannot be passed on is still counted and kept for the run log.
    posix::WriteAll(STDERR_FILENO, std::string_view(data, size));
  }
  // A last line without a line end counts too.
  size_t lines() const { return m_lines + (m_endedLine ? 0 : 1); }

 private:
  struct sigaction m_previous {};
  size_t m_lines = 0;
  bool m_endedLine = true;
};

}  // namespace

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args, ErrorOutput errors) {
  if (errors == ErrorOutput::Capture) {
    ErrorRelay relay;
    std::string kept;
    ProcessOutcome outcome = RunWithPipe(program, args, STDERR_FILENO, kept, kMaxCapturedErrorBytes,
                                         [&](const char* data, size_t size) { relay.Pass(data, size); });
    outcome.errorOutput = std::move(kept);
    if (outcome.started) outcome.errorLines = relay.lines();
    return outcome;
  }
  ProcessOutcome outcome;
  pid_t pid = 0;
  if (Spawn(program, args, nullptr, pid, outcome)) Wait(pid, outcome);
  return outcome;
}

ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit) {
  return RunWithPipe(program, args, STDOUT_FILENO, output, limit, nullptr);
}

}  // namespace platform
