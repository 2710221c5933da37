#include "platform/process.h"
#include "platform/files.h"
#include "platform/program_path.h"
#include "platform/posix_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

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

// Starts the program with `actions` applied in the child (may be null), with
// `environment` (null: this process's own).
bool Spawn(const std::string& program, const std::vector<std::string>& args,
           const posix_spawn_file_actions_t* actions, pid_t& pid, ProcessOutcome& outcome,
           char* const* environment = nullptr) {
  std::vector<std::string> argvText;
  argvText.reserve(args.size() + 1);
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  // posix_spawnp reports a program that cannot be executed (missing, not
  // executable) as its own result, so "not started" is known here.
  const int rc = posix_spawnp(&pid, program.c_str(), actions, nullptr, argv.data(),
                              environment ? environment : environ);
  if (rc != 0) {
    outcome.error = std::strerror(rc);
    return false;
  }
  outcome.started = true;
  return true;
}

void Record(int status, ProcessOutcome& outcome) {
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
}

void WaitFor(pid_t pid, ProcessOutcome& outcome) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return;
  }
  Record(status, outcome);
}

// This process's environment with `added` put in, each replacing a variable
// of its name.
std::vector<std::string> MergedEnvironment(const std::vector<std::pair<std::string, std::string>>& added) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool replaced =
        std::any_of(added.begin(), added.end(), [&](const auto& variable) { return variable.first == name; });
    if (!replaced) merged.emplace_back(text);
  }
  for (const auto& [name, value] : added) merged.push_back(name + "=" + value);
  return merged;
}

// A program path relative to a folder is meant from the caller's current
// folder, which the child leaves before the program is looked up.
std::string FromCallersFolder(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('/') == std::string::npos) return path;
  std::vector<char> folder(4096);
  if (!::getcwd(folder.data(), folder.size())) return path;
  return std::string(folder.data()) + "/" + path;
}

// One standard stream of the child on a pipe: the first `limit` bytes are
// kept in `kept`, and every chunk is shown to `seen`.
struct PipedStream {
  int stream;
  std::string* kept;
  size_t limit;
  std::function<void(const char*, size_t)> seen;
};

// Runs the program with `streams` on pipes, which are read to their ends
// while the program runs (so it never blocks on a full pipe; with two,
// whichever has something to read).
ProcessOutcome RunWithPipes(const std::string& program, const std::vector<std::string>& args,
                            std::vector<PipedStream>& streams) {
  ProcessOutcome outcome;
  std::vector<std::unique_ptr<Pipe>> pipes;  // in step with `streams`
  for (PipedStream& piped : streams) {
    piped.kept->clear();
    pipes.push_back(std::make_unique<Pipe>());
    if (!pipes.back()->Open(outcome)) return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy, so only those streams survive.
  for (size_t i = 0; i < streams.size(); ++i) {
    posix_spawn_file_actions_adddup2(&actions, pipes[i]->write, streams[i].stream);
  }
  pid_t pid = 0;
  const bool started = Spawn(program, args, &actions, pid, outcome);
  posix_spawn_file_actions_destroy(&actions);
  if (!started) return outcome;
  // So that each read ends when the child (and its children) close theirs.
  std::vector<pollfd> open;
  for (const auto& pipe : pipes) {
    pipe->CloseWrite();
    open.push_back({pipe->read, POLLIN, 0});
  }
  char buffer[8192];
  size_t ended = 0;
  while (ended < open.size()) {
    if (::poll(open.data(), open.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd < 0 || open[i].revents == 0) continue;
      const ssize_t n = ::read(open[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        open[i].fd = -1;  // poll leaves it out from now on
        ++ended;
        continue;
      }
      PipedStream& piped = streams[i];
      piped.kept->append(buffer, std::min(static_cast<size_t>(n), piped.limit - std::min(piped.limit, piped.kept->size())));
      if (piped.seen) piped.seen(buffer, static_cast<size_t>(n));
    }
  }
  WaitFor(pid, outcome);
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

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args, ErrorOutput errors,
                          StandardOutput output) {
  if (errors == ErrorOutput::Inherit && output == StandardOutput::Inherit) {
    ProcessOutcome outcome;
    pid_t pid = 0;
    if (Spawn(program, args, nullptr, pid, outcome)) WaitFor(pid, outcome);
    return outcome;
  }
  ErrorRelay relay;
  std::string errorText, outputText;
  std::vector<PipedStream> streams;
  if (errors == ErrorOutput::Capture) {
    streams.push_back({STDERR_FILENO, &errorText, kMaxCapturedErrorBytes,
                       [&](const char* data, size_t size) { relay.Pass(data, size); }});
  }
  if (output == StandardOutput::Capture) streams.push_back({STDOUT_FILENO, &outputText, kMaxCapturedOutputBytes, {}});
  ProcessOutcome outcome = RunWithPipes(program, args, streams);
  outcome.errorOutput = std::move(errorText);
  outcome.output = std::move(outputText);
  if (outcome.started && errors == ErrorOutput::Capture) outcome.errorLines = relay.lines();
  return outcome;
}

std::string SiblingProgram(const std::string& name) {
  const std::string self = RunningProgramPath();
  const size_t cut = self.find_last_of('/');
  if (cut == std::string::npos) return name;
  const std::string beside = self.substr(0, cut + 1) + name;
  return FileExists(beside) ? beside : name;
}

ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit) {
  std::vector<PipedStream> streams;
  streams.push_back({STDOUT_FILENO, &output, limit, {}});
  return RunWithPipes(program, args, streams);
}


namespace {

// A descriptor above the three standard ones (so that putting the standard
// streams in place never overwrites it), close-on-exec; -1 on failure.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(fd);
  return moved;
}

// Sends errno, the reason a detached start failed, through `report`.
[[noreturn]] void ReportFailure(int report) {
  const int code = errno;
  posix::WriteAll(report, std::string_view(reinterpret_cast<const char*>(&code), sizeof code));
  ::_exit(127);
}

// The detached program's side of the fork; runs in a copy of this process
// that may have inherited locks held by other threads, so only
// async-signal-safe calls. Sends errno through `report` when it fails.
[[noreturn]] void BecomeDetached(char* const* argv, int nullDevice, int report, long maxDescriptor) {
  const auto fail = [report] { ReportFailure(report); };
  // A session of its own: no terminal's hangup and no signal to the
  // caller's process group reaches it.
  if (::setsid() < 0) fail();
  // The session leader goes at once, so the program can never take a
  // terminal, and init becomes its parent: it leaves no zombie behind.
  const pid_t second = ::fork();
  if (second < 0) fail();
  if (second > 0) ::_exit(0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::dup2(nullDevice, stream) < 0) fail();
  }
  // Every other descriptor, the caller's pipes among them, ends with the
  // exec; `report` stays open until then to tell a failed start.
  if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (long fd = STDERR_FILENO + 1; fd <= maxDescriptor; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  }
  // execvp allocates nothing for a name with a folder, which is what
  // callers give (the running program's path); a bare name is looked up on
  // PATH.
  ::execvp(argv[0], argv);
  ReportFailure(report);
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::string* error) {
  const auto failed = [&](int code) {
    if (error) *error = "cannot start '" + program + "' in the background: " + std::strerror(code);
    return false;
  };
  // Everything the child needs is made before the fork.
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  const long maxDescriptor = std::min(::sysconf(_SC_OPEN_MAX), 65536L);
  Pipe report;
  ProcessOutcome notStarted;
  if (!report.Open(notStarted)) return failed(errno);
  report.read = AboveStandardStreams(report.read);
  report.write = AboveStandardStreams(report.write);
  const int nullDevice = AboveStandardStreams(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (report.read < 0 || report.write < 0 || nullDevice < 0) {
    const int code = errno;
    if (nullDevice >= 0) ::close(nullDevice);
    return failed(code);
  }
  const pid_t first = ::fork();
  if (first == 0) BecomeDetached(argv.data(), nullDevice, report.write, maxDescriptor);
  const int forkError = errno;
  ::close(nullDevice);
  if (first < 0) return failed(forkError);
  report.CloseWrite();
  // The pipe ends when the program has started (close-on-exec) or when the
  // start has failed and its reason is in it.
  int code = 0;
  size_t got = 0;
  while (got < sizeof code) {
    const ssize_t n = ::read(report.read, reinterpret_cast<char*>(&code) + got, sizeof code - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ProcessOutcome sessionLeader;  // ended as soon as it has forked
  WaitFor(first, sessionLeader);
  if (got == sizeof code) return failed(code);
  return true;
}

BackgroundProcess::~BackgroundProcess() {
  if (Running()) {
    Kill();
    Wait();
  }
}

bool BackgroundProcess::Start(const std::string& program, const std::vector<std::string>& args,
                              const Options& options, std::string* error) {
  if (m_process != -1 || m_outcome.started) {
    if (error) *error = "already started";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The files are opened before the change of folder, so that relative
  // names mean the caller's folder.
  if (!options.outputFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!options.errorFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!options.workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
  std::vector<std::string> environment = MergedEnvironment(options.environment);
  std::vector<char*> pointers;
  for (auto& entry : environment) pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  ProcessOutcome outcome;
  const bool started = Spawn(FromCallersFolder(program), args, &actions, pid, outcome, pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (!started) {
    if (error) *error = "cannot start '" + program + "': " + outcome.error;
    m_outcome.error = outcome.error;
    return false;
  }
  m_process = pid;
  m_outcome.started = true;
  return true;
}

bool BackgroundProcess::Running() {
  if (m_process == -1 || m_ended) return false;
  int status = 0;
  const pid_t done = ::waitpid(static_cast<pid_t>(m_process), &status, WNOHANG);
  if (done == static_cast<pid_t>(m_process)) {
    Record(status, m_outcome);
    m_ended = true;
  }
  return !m_ended;
}

void BackgroundProcess::Kill() {
  if (m_process != -1 && !m_ended) ::kill(static_cast<pid_t>(m_process), SIGKILL);
}

ProcessOutcome BackgroundProcess::Wait() {
  if (m_process != -1 && !m_ended) {
    WaitFor(static_cast<pid_t>(m_process), m_outcome);
    m_ended = true;
  }
  return m_outcome;
}

}  // namespace platform
