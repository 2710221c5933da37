// A stand-in for the mail-access program, for tests that send or fetch mail.
//
// WriteMailAccessStandIn puts a small program at `programPath` (with the
// system's program suffix) that records every call in its own folder
// <recordDir>/call<N> (N = 1, 2, ... in call order): "program" (the file
// that ran, as the system names it; compare with IsStandIn), "args" (the arguments, each ended by a NUL byte, so
// blanks and quotes survive) and "exchange" (a copy of the file named by the
// second argument, when that file exists at the time of the call). Asked
// with a subject (third argument) that `offers` names, it then copies the
// file offered for it to the path of the second argument, as the real
// program writes the incoming replies there; then it exits with `exitCode`.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

inline void WriteMailAccessStandIn(const std::string& programPath, const std::string& recordDir, int exitCode = 0,
                                   const std::map<std::string, std::string>& offers = {}) {
  std::filesystem::copy_file(LVMAPI_STAND_IN, programPath + LVMAPI_EXE_SUFFIX,
                             std::filesystem::copy_options::overwrite_existing);
  std::string settings = "record\t" + recordDir + "\nexit\t" + std::to_string(exitCode) + "\n";
  for (const auto& [subject, file] : offers) settings += "offer\t" + subject + "\t" + file + "\n";
  WriteFile(programPath + ".standin", settings);
}

// True when the recorded program is the stand-in written at `programPath`.
inline bool IsStandIn(const std::string& recorded, const std::string& programPath) {
  std::error_code ec;
  return std::filesystem::equivalent(recorded, programPath + LVMAPI_EXE_SUFFIX, ec);
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
