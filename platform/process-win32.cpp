#include "platform/process.h"
#include "platform/files.h"
#include "platform/program_path.h"
#include "platform/win32_support.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace platform {
namespace {

using win32::Handle;
using win32::Wide;

// How a child is started: its standard streams (null: this process's own)
// and, when given, its environment block and current folder.
struct Launch {
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  HANDLE errors = nullptr;
  const std::wstring* environment = nullptr;  // a CREATE_UNICODE_ENVIRONMENT block
  std::wstring workDir;
};

// An inheritable copy of `handle` for the child, or null when there is none
// to give (a process without that stream).
HANDLE InheritableCopy(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// The short (8.3) name of an existing file in the "\\?\" form it was asked
// with; empty where the volume keeps no short names or the short name too is
// beyond MAX_PATH.
std::wstring ShortName(const std::string& path) {
  std::wstring shortName = win32::ConvertedPath(::GetShortPathNameW, win32::FilePath(path));
  return win32::WithoutLongPathPrefix(shortName).size() < MAX_PATH ? shortName : std::wstring();
}

// How the system is to find the program. It finds it from the command line
// as a command typed at a prompt (a name without a folder in the running
// program's folder, the current folder, the system's, then PATH; ".exe"
// added). Neither that nor starting a program takes a path beyond MAX_PATH,
// not even in the "\\?\" form, so a longer one is started from its short
// (8.3) name where the volume keeps those, given as the application name.
// That name keeps the "\\?\" form: a system that turns the application
// name back into its long form for the new process (Wine does, into a
// MAX_PATH buffer it then uses unfilled) takes a name in that form as it
// is. The command line's first word is the short name as a person writes it.
struct ProgramToStart {
  explicit ProgramToStart(const std::string& program)
      : application(win32::Wide(program)),
        commandName(application),
        longPath(program.find_first_of("\\/") != std::string::npos && application.size() >= MAX_PATH) {
    if (!longPath) return;
    if (std::wstring shortName = ShortName(program); !shortName.empty()) {
      application = std::move(shortName);
      commandName = win32::WithoutLongPathPrefix(application);
    }
  }
  // CreateProcess's application name: null to take it from the command line.
  const wchar_t* applicationName() const { return longPath ? application.c_str() : nullptr; }

  std::wstring application;
  std::wstring commandName;  // the command line's first word
  bool longPath;
};

// Starts the program; false with the system's reason in `outcome.error`. The
// child inherits its three standard streams and nothing else: the handle
// list names them alone, so a pipe or file this process has open elsewhere
// never stays open in a child (which would keep a reader of that pipe waiting).
bool StartChild(const std::string& program, const std::vector<std::string>& args, const Launch& launch,
           PROCESS_INFORMATION& started, ProcessOutcome& outcome) {
  Handle streams[3];
  streams[0].Reset(InheritableCopy(launch.input ? launch.input : ::GetStdHandle(STD_INPUT_HANDLE)));
  streams[1].Reset(InheritableCopy(launch.output ? launch.output : ::GetStdHandle(STD_OUTPUT_HANDLE)));
  streams[2].Reset(InheritableCopy(launch.errors ? launch.errors : ::GetStdHandle(STD_ERROR_HANDLE)));
  std::vector<HANDLE> inherited;
  for (const auto& stream : streams) {
    if (stream.valid()) inherited.push_back(stream.get());
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = streams[0].valid() ? streams[0].get() : nullptr;
  startup.StartupInfo.hStdOutput = streams[1].valid() ? streams[1].get() : nullptr;
  startup.StartupInfo.hStdError = streams[2].valid() ? streams[2].get() : nullptr;
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::unique_ptr<unsigned char[]> attributes(new unsigned char[size]);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.get());
  if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    outcome.error = win32::SystemMessage(::GetLastError());
    return false;
  }
  const bool listed = !inherited.empty() &&
                      ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr);
  if (listed) startup.lpAttributeList = list;
  // Without the list (a system that cannot take one) the streams are still
  // inherited, with whatever else this process has made inheritable.
  const BOOL inherit = inherited.empty() ? FALSE : TRUE;

  const ProgramToStart name(program);
  std::wstring commandLine = win32::CommandLine(win32::Utf8(name.commandName), args);
  // (Only one attempt: under Wine a failed start spoils the next one.)
  const BOOL ok = ::CreateProcessW(name.applicationName(), commandLine.data(), nullptr, nullptr, inherit,
                                   EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                                   launch.environment ? const_cast<wchar_t*>(launch.environment->c_str()) : nullptr,
                                   launch.workDir.empty() ? nullptr : launch.workDir.c_str(), &startup.StartupInfo,
                                   &started);
  const DWORD code = ::GetLastError();
  ::DeleteProcThreadAttributeList(list);
  if (!ok) {
    outcome.error = win32::SystemMessage(code);
    return false;
  }
  outcome.started = true;
  return true;
}

// The ending of a child that has ended: an exception code is told as the
// signal of the same fault, anything else is the exit status.
void Record(HANDLE process, ProcessOutcome& outcome) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return;
  outcome.signal = win32::SignalOfExitCode(code);
  if (outcome.signal == 0) outcome.exitCode = static_cast<int>(code);
}

void WaitFor(PROCESS_INFORMATION& started, ProcessOutcome& outcome) {
  ::CloseHandle(started.hThread);
  ::WaitForSingleObject(started.hProcess, INFINITE);
  Record(started.hProcess, outcome);
  ::CloseHandle(started.hProcess);
}

// One standard stream of the child on a pipe: the first `limit` bytes are
// kept in `kept`, and every chunk is shown to `seen`.
struct PipedStream {
  bool errorStream;  // standard error; else standard output
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
  Launch launch;
  // Per stream, in step with `streams`.
  std::vector<std::unique_ptr<Handle>> reading, writing;
  for (PipedStream& piped : streams) {
    piped.kept->clear();
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
      outcome.error = "cannot make a pipe: " + win32::SystemMessage(::GetLastError());
      return outcome;
    }
    reading.push_back(std::make_unique<Handle>(readEnd));
    writing.push_back(std::make_unique<Handle>(writeEnd));
    (piped.errorStream ? launch.errors : launch.output) = writeEnd;
  }
  PROCESS_INFORMATION started{};
  if (!StartChild(program, args, launch, started, outcome)) return outcome;
  writing.clear();  // so each pipe breaks when the child closes its end
  char buffer[8192];
  // Reads whatever is waiting in one pipe; false once it is empty or broken.
  auto takeWaiting = [&](size_t i) {
    PipedStream& piped = streams[i];
    DWORD available = 0, n = 0;
    if (!::PeekNamedPipe(reading[i]->get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) {
      return false;
    }
    if (!::ReadFile(reading[i]->get(), buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr) || n == 0) {
      return false;
    }
    piped.kept->append(buffer, std::min(static_cast<size_t>(n), piped.limit - std::min(piped.limit, piped.kept->size())));
    if (piped.seen) piped.seen(buffer, n);
    return true;
  };
  auto takeAllWaiting = [&] {
    bool any = false;
    for (size_t i = 0; i < streams.size(); ++i) any = takeWaiting(i) || any;
    return any;
  };
  // The child's ending, not the pipes', ends the reading: a process that
  // inherited a pipe's other end from the child (or a system that keeps it
  // open a while) would otherwise keep us waiting after the child is gone.
  // Everything the child wrote is in the pipes by the time it ends.
  for (;;) {
    if (takeAllWaiting()) continue;
    bool writerLeft = false;
    for (const auto& pipe : reading) {
      DWORD available = 0;
      writerLeft = ::PeekNamedPipe(pipe->get(), nullptr, 0, nullptr, &available, nullptr) || writerLeft;
    }
    if (!writerLeft) break;  // every writer gone
    if (::WaitForSingleObject(started.hProcess, 20) == WAIT_OBJECT_0) {
      while (takeAllWaiting()) {
      }
      break;
    }
  }
  WaitFor(started, outcome);
  return outcome;
}

// Passes the child's standard error on to ours, where a person at a console
// expects it, counting its lines.
class ErrorRelay {
 public:
  void Pass(const char* data, size_t size) {
    m_lines += std::count(data, data + size, '\n');
    m_endedLine = data[size - 1] == '\n';
    // What cannot be passed on is still counted and kept for the run log.
    win32::WriteAll(::GetStdHandle(STD_ERROR_HANDLE), std::string_view(data, size));
  }
  // A last line without a line end counts too.
  size_t lines() const { return m_lines + (m_endedLine ? 0 : 1); }

 private:
  size_t m_lines = 0;
  bool m_endedLine = true;
};

// Names of environment variables are the same whatever their case.
bool SameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring_view NameOf(std::wstring_view entry) {
  // Names of the hidden per-drive folder variables begin with '=' ("=C:=C:\x").
  return entry.substr(0, entry.find(L'=', 1));
}

// This process's environment with `added` put in, each replacing a variable
// of its name, as a block of zero-ended entries sorted by name and ended by
// one more zero.
std::wstring MergedEnvironment(const std::vector<std::pair<std::string, std::string>>& added) {
  std::vector<std::wstring> entries;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) entries.emplace_back(entry);
    ::FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : added) {
    const std::wstring wideName = Wide(name);
    std::erase_if(entries, [&](const std::wstring& entry) { return SameName(NameOf(entry), wideName); });
    entries.push_back(wideName + L"=" + Wide(value));
  }
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const auto nameA = NameOf(a), nameB = NameOf(b);
    return ::CompareStringOrdinal(nameA.data(), static_cast<int>(nameA.size()), nameB.data(),
                                  static_cast<int>(nameB.size()), TRUE) == CSTR_LESS_THAN;
  });
  std::wstring result;
  for (const auto& entry : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

// A file for a child's output: created or emptied, readable by others while
// the child writes.
bool OpenOutput(const std::string& path, Handle& file, std::string* error) {
  if (path.empty()) return true;
  win32::CreationAttributes attributes(false, false);
  file.Reset(::CreateFileW(win32::FilePath(path).c_str(), GENERIC_WRITE, win32::kShareAll, attributes.get(), CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid()) return true;
  win32::SetError(error, "cannot open", path, ::GetLastError());
  return false;
}

}  // namespace

ProcessOutcome RunAndWait(const std::string& program, const std::vector<std::string>& args, ErrorOutput errors,
                          StandardOutput output) {
  if (errors == ErrorOutput::Inherit && output == StandardOutput::Inherit) {
    ProcessOutcome outcome;
    PROCESS_INFORMATION started{};
    if (StartChild(program, args, Launch{}, started, outcome)) WaitFor(started, outcome);
    return outcome;
  }
  ErrorRelay relay;
  std::string errorText, outputText;
  std::vector<PipedStream> streams;
  if (errors == ErrorOutput::Capture) {
    streams.push_back({true, &errorText, kMaxCapturedErrorBytes,
                       [&](const char* data, size_t size) { relay.Pass(data, size); }});
  }
  if (output == StandardOutput::Capture) streams.push_back({false, &outputText, kMaxCapturedOutputBytes, {}});
  ProcessOutcome outcome = RunWithPipes(program, args, streams);
  outcome.errorOutput = std::move(errorText);
  outcome.output = std::move(outputText);
  if (outcome.started && errors == ErrorOutput::Capture) outcome.errorLines = relay.lines();
  return outcome;
}

// The copy beside the running program by its full path: Windows' own search
// would find it there first too, but not in a folder whose path is beyond
// MAX_PATH. Without such a copy the system searches PATH.
std::string SiblingProgram(const std::string& name) {
  const std::string file = name + ".exe";
  const std::string self = RunningProgramPath();
  const size_t cut = self.find_last_of("\\/");
  if (cut == std::string::npos) return file;
  const std::string beside = self.substr(0, cut + 1) + file;
  return FileExists(beside) ? beside : file;
}

ProcessOutcome RunAndCapture(const std::string& program, const std::vector<std::string>& args, std::string& output,
                             size_t limit) {
  std::vector<PipedStream> streams;
  streams.push_back({false, &output, limit, {}});
  return RunWithPipes(program, args, streams);
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::string* error) {
  const ProgramToStart name(program);
  std::wstring commandLine = win32::CommandLine(win32::Utf8(name.commandName), args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // No console, no Ctrl+C of the caller's console, no handle of this process
  // (its standard streams included: without STARTF_USESTDHANDLES a
  // detached program gets none).
  DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
  // A job this process runs in may be closed, and every process in it
  // ended, when the caller is done; the program leaves it where the job
  // allows that. Where it does not, it starts inside it all the same.
  BOOL inJob = FALSE;
  if (::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob) && inJob) flags |= CREATE_BREAKAWAY_FROM_JOB;
  PROCESS_INFORMATION started{};
  BOOL ok = ::CreateProcessW(name.applicationName(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                             nullptr, &startup, &started);
  if (!ok && (flags & CREATE_BREAKAWAY_FROM_JOB) && ::GetLastError() == ERROR_ACCESS_DENIED) {
    ok = ::CreateProcessW(name.applicationName(), commandLine.data(), nullptr, nullptr, FALSE,
                          flags & ~CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup, &started);
  }
  if (!ok) {
    if (error) *error = "cannot start '" + program + "' in the background: " + win32::SystemMessage(::GetLastError());
    return false;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

BackgroundProcess::~BackgroundProcess() {
  if (Running()) {
    Kill();
    Wait();
  }
  if (m_process != -1) ::CloseHandle(reinterpret_cast<HANDLE>(m_process));
}

bool BackgroundProcess::Start(const std::string& program, const std::vector<std::string>& args,
                              const Options& options, std::string* error) {
  if (m_process != -1 || m_outcome.started) {
    if (error) *error = "already started";
    return false;
  }
  Handle output, errors;
  if (!OpenOutput(options.outputFile, output, error) || !OpenOutput(options.errorFile, errors, error)) return false;
  Launch launch;
  launch.output = output.valid() ? output.get() : nullptr;
  launch.errors = errors.valid() ? errors.get() : nullptr;
  const std::wstring environment = MergedEnvironment(options.environment);
  launch.environment = &environment;
  if (!options.workDir.empty()) {
    // The system wants the child's folder as a full path.
    const std::wstring folder = Wide(options.workDir);
    std::wstring full(::GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD n = full.empty() ? 0 : ::GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()),
                                                         full.data(), nullptr);
    full.resize(n);
    launch.workDir = n ? full : folder;
  }
  PROCESS_INFORMATION started{};
  ProcessOutcome outcome;
  if (!StartChild(program, args, launch, started, outcome)) {
    if (error) *error = "cannot start '" + program + "': " + outcome.error;
    m_outcome.error = outcome.error;
    return false;
  }
  ::CloseHandle(started.hThread);
  m_process = reinterpret_cast<std::intptr_t>(started.hProcess);
  m_outcome.started = true;
  return true;
}

bool BackgroundProcess::Running() {
  if (m_process == -1 || m_ended) return false;
  const HANDLE process = reinterpret_cast<HANDLE>(m_process);
  if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) return true;
  Record(process, m_outcome);
  m_ended = true;
  return false;
}

void BackgroundProcess::Kill() {
  // The exit code tells Wait that the child was killed; one that had already
  // ended keeps its own.
  if (m_process != -1 && !m_ended) ::TerminateProcess(reinterpret_cast<HANDLE>(m_process), win32::kKilledExitCode);
}

ProcessOutcome BackgroundProcess::Wait() {
  if (m_process != -1 && !m_ended) {
    const HANDLE process = reinterpret_cast<HANDLE>(m_process);
    ::WaitForSingleObject(process, INFINITE);
    Record(process, m_outcome);
    m_ended = true;
  }
  return m_outcome;
}

}  // namespace platform
