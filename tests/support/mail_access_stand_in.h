// A stand-in for the mail-access program, for tests that send or fetch mail.
//
// WriteMailAccessStandIn writes a small shell script that records every call
// in its own folder <recordDir>/call<N> (N = 1, 2, ... in call order):
// "program" (how it was started, $0), "args" (the arguments, each ended by a
// NUL byte, so blanks and quotes survive) and "exchange" (a copy of the file
// named by the second argument, when that file exists at the time of the
// call). `extraShell` runs after recording (e.g. to write an incoming file),
// then the script exits with `exitCode`.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

inline void WriteMailAccessStandIn(const std::string& programPath, const std::string& recordDir, int exitCode = 0,
                                   const std::string& extraShell = "") {
  WriteFile(programPath,
            "#!/bin/sh\n"
            "rec='" + recordDir + "'\n"
            "mkdir -p \"$rec\" || exit 98\n"
            "n=1\n"
            "while ! mkdir \"$rec/call$n\" 2>/dev/null; do\n"
            "  n=$((n+1)); [ $n -gt 1000 ] && exit 99\n"
            "done\n"
            "printf '%s' \"$0\" > \"$rec/call$n/program\"\n"
            "printf '%s\\0' \"$@\" > \"$rec/call$n/args\"\n"
            "if [ -f \"$2\" ]; then cp \"$2\" \"$rec/call$n/exchange\"; fi\n" +
                extraShell + "\nexit " + std::to_string(exitCode) + "\n");
  std::filesystem::permissions(programPath, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                std::filesystem::perms::group_exec);
}

struct MailAccessCall {
  std::string program;
  std::vector<std::string> args;
  bool hadExchange = false;
  std::string exchange;  // the exchange file's bytes at the time of the call
};

inline std::vector<MailAccessCall> RecordedMailAccessCalls(const std::string& recordDir) {
  std::vector<MailAccessCall> calls;
  for (int n = 1;; ++n) {
    const std::string dir = recordDir + "/call" + std::to_string(n);
    if (!Exists(dir)) break;
    MailAccessCall call;
    call.program = ReadFile(dir + "/program");
    const std::string args = ReadFile(dir + "/args");
    size_t start = 0;
    for (size_t end; (end = args.find('\0', start)) != std::string::npos; start = end + 1)
      call.args.push_back(args.substr(start, end - start));
    call.hadExchange = Exists(dir + "/exchange");
    if (call.hadExchange) call.exchange = ReadFile(dir + "/exchange");
    calls.push_back(std::move(call));
  }
  return calls;
}

}  // namespace testing_support
