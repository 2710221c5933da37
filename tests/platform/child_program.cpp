#include "child_program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/alert.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "platform/process.h"
#include "platform/program_path.h"

#ifdef _WIN32
#include "platform/win32_support.h"  // windows.h, before the headers that build on it

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

namespace platform_test {
namespace {

// The arguments as the child's own runtime hands them over.
std::vector<std::string> OwnArguments() {
  std::vector<std::string> arguments;
#ifdef _WIN32
  int count = 0;
  if (wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) arguments.push_back(platform::win32::Utf8(list[i]));
    ::LocalFree(list);
  }
#else
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t start = 0; start < all.size();) {
    const size_t end = all.find('\0', start);
    arguments.push_back(all.substr(start, end - start));
    start = end == std::string::npos ? all.size() : end + 1;
  }
#endif
  return arguments;
}

int RunTask(const std::vector<std::string>& a) {
#ifdef _WIN32
  // Bytes as they are, without line ends turned into CR LF; and a crash ends
  // the child without a dialog waiting for a person.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Ends a crashed child with the exception's code, as Windows does when no
  // debugger takes the crash (Wine would start its own).
  ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
#endif
  const std::string& task = a[2];
  if (task == "echo") {
    for (size_t i = 3; i < a.size(); ++i) std::printf("[%s]\n", a[i].c_str());
    return 0;
  }
  if (task == "stderr" && a.size() == 5) {
    std::fputs(a[3].c_str(), stderr);
    return std::atoi(a[4].c_str());
  }
  // <count> lines "out <i>" to standard output and "err <i>" to standard
  // error, in turns, flushed each, so that both pipes fill while the other
  // is written.
  if (task == "both" && a.size() == 4) {
    const int count = std::atoi(a[3].c_str());
    for (int i = 0; i < count; ++i) {
      std::fprintf(stdout, "out %d\n", i);
      std::fflush(stdout);
      std::fprintf(stderr, "err %d\n", i);
      std::fflush(stderr);
    }
    return 0;
  }
  if (task == "sleep") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  if (task == "report" && a.size() == 5) {
    const auto value = platform::EnvironmentValue(a[3]);
    std::printf("%s\n", value ? (a[3] + "=" + *value).c_str() : (a[3] + " unset").c_str());
    std::string content;
    std::printf("%s\n", platform::ReadWholeFile(a[4], content) ? content.c_str() : (a[4] + " missing").c_str());
    std::fputs("reported\n", stderr);
    return 3;
  }
  if (task == "crash-memory") {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  }
  if (task == "crash-instruction") __builtin_trap();
  if (task == "alert" && a.size() == 5) {
    platform::ShowErrorAlert(a[3], a[4]);
    return 0;
  }
  if (task == "detach" && a.size() >= 4) {
    std::string error;
    if (!platform::StartDetached(Self(), ChildArguments(a[3], {a.begin() + 4, a.end()}), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("detached\n");
    return 0;
  }
  if (task == "write-later" && a.size() >= 5) {
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(a[3].c_str())));
    std::string lines;
    for (size_t i = 5; i < a.size(); ++i) lines += "[" + a[i] + "]\n";
    return platform::ReplaceFileAtomically(a[4], lines) ? 0 : 1;
  }
  std::fprintf(stderr, "unknown child task '%s'\n", task.c_str());
  return 125;
}

// Runs before any test when this program was started as the child.
const bool g_isChild = [] {
  const std::vector<std::string> arguments = OwnArguments();
  if (arguments.size() < 3 || arguments[1] != kChildFlag) return false;
  const int code = RunTask(arguments);
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}();

std::filesystem::path NativePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::vector<std::string> ChildArguments(const std::string& task, const std::vector<std::string>& more) {
  std::vector<std::string> arguments{kChildFlag, task};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

std::string Self() { return platform::RunningProgramPath(); }

ScratchFolder::ScratchFolder() {
#ifdef _WIN32
  const std::string base = platform::EnvironmentValue("TEMP").value_or(".");
#else
  const std::string base = platform::EnvironmentValue("TMPDIR").value_or("/tmp");
#endif
  const std::string guid = platform::NewRegistryGuid();
  m_path = base + platform::PathSeparator() + "platform-test-" + guid.substr(1, 8);
  std::string error;
  if (!platform::MakeDirectories(m_path, &error)) std::fprintf(stderr, "%s\n", error.c_str());
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(NativePath(m_path), ignored);
}

std::string ScratchFolder::file(const std::string& name) const { return m_path + platform::PathSeparator() + name; }

}  // namespace platform_test
