// Arguments reach a child exactly as given, whatever the system does to pass
// them (one command line on Windows, which the child's runtime splits again).
#include <gtest/gtest.h>

#include "child_program.h"
#include "platform/process.h"

#ifdef _WIN32
#include "platform/win32_support.h"
#endif

namespace {

using platform_test::ChildArguments;
using platform_test::Self;

TEST(ChildArguments, ReachTheChildUnchanged) {
  const std::vector<std::string> awkward = {
      "",
      "plain",
      "two words",
      "tab\there",
      "quote\"inside",
      "\"",
      "\"\"",
      "a \"quoted part\" b",
      "trailing\\",
      "trailing two\\\\",
      "blank then trailing \\",
      "\\\"",
      "\\\\\"",
      "C:\\Program Files\\LvMAPI\\{0A1B}.xml",
      "\\\\server\\share\\",
      "Corvane Survey - \"Spring\" $HOME `x` %PATH% * ? & | < >",
      "Grüße é",
      "line\nend",
  };
  std::string expected;
  for (const auto& argument : awkward) expected += "[" + argument + "]\n";
  std::string output;
  const auto outcome = platform::RunAndCapture(Self(), ChildArguments("echo", awkward), output);
  ASSERT_TRUE(outcome.started) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(output, expected);
}

TEST(ChildArguments, ExitStatusAndCapturedErrorsComeBack) {
  struct Case {
    std::string written;
    int code;
    size_t lines;
  };
  const Case cases[] = {{"", 0, 0}, {"one\ntwo\n", 7, 2}, {"one\ntwo\nlast without end", 255, 3}};
  for (const auto& c : cases) {
    const auto outcome =
        platform::RunAndWait(Self(), ChildArguments("stderr", {c.written, std::to_string(c.code)}),
                             platform::ErrorOutput::Capture);
    ASSERT_TRUE(outcome.started) << outcome.error;
    EXPECT_EQ(outcome.exitCode, c.code) << c.written;
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.errorOutput, c.written);
    EXPECT_EQ(outcome.errorLines, c.lines) << c.written;
  }
}

// Both streams read at once: a child that fills one pipe while the other is
// read would otherwise wait for ever. Each stream keeps its own text, cut at
// its limit.
TEST(ChildArguments, StandardOutputAndErrorAreCapturedTogether) {
  struct Case {
    int lines;
    bool outputCut;  // more than kMaxCapturedOutputBytes written
  };
  for (const Case& c : {Case{0, false}, Case{3, false}, Case{8000, true}}) {
    SCOPED_TRACE(c.lines);
    const auto outcome = platform::RunAndWait(Self(), ChildArguments("both", {std::to_string(c.lines)}),
                                              platform::ErrorOutput::Capture, platform::StandardOutput::Capture);
    ASSERT_TRUE(outcome.started) << outcome.error;
    EXPECT_EQ(outcome.exitCode, 0);
    std::string out, err;
    for (int i = 0; i < c.lines; ++i) {
      out += "out " + std::to_string(i) + "\n";
      err += "err " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(outcome.errorLines, static_cast<size_t>(c.lines));
    EXPECT_EQ(out.size() > platform::kMaxCapturedOutputBytes, c.outputCut);
    EXPECT_EQ(outcome.output, out.substr(0, platform::kMaxCapturedOutputBytes));
    EXPECT_EQ(outcome.errorOutput, err.substr(0, platform::kMaxCapturedErrorBytes));
  }
}

TEST(ChildArguments, AProgramThatCannotBeStartedIsReported) {
  for (const std::string& program : {Self() + "-missing", std::string("LVEmailAccess-not-installed-anywhere")}) {
    std::string output;
    const auto outcome = platform::RunAndCapture(program, {"4"}, output);
    EXPECT_FALSE(outcome.started) << program;
    EXPECT_FALSE(outcome.error.empty()) << program;
  }
}

#ifdef _WIN32
TEST(WindowsCommandLine, QuotesEverythingButPlainWords) {
  struct Case {
    std::string program;
    std::vector<std::string> args;
    std::wstring line;
  };
  const Case cases[] = {
      {"LVEmailAccess.exe",
       {"4", "C:\\Program Files\\LvMAPI\\{0A1B}.xml", "Corvane Survey", "0"},
       L"LVEmailAccess.exe 4 \"C:\\Program Files\\LvMAPI\\{0A1B}.xml\" \"Corvane Survey\" 0"},
      {"LVEmailAccess.exe",
       {"4", "C:\\LvMAPI\\{0A1B}.tmp", "Corvane Survey", "0"},
       L"LVEmailAccess.exe 4 \"C:\\LvMAPI\\{0A1B}.tmp\" \"Corvane Survey\" 0"},
      {"C:\\Program Files\\LvMAPI\\LVEmailAccess.exe", {"", "a\\b", "x-1_y.z"},
       L"\"C:\\Program Files\\LvMAPI\\LVEmailAccess.exe\" \"\" \"a\\b\" x-1_y.z"},
      {"p", {"say \"hi\"", "end\\", "end \\", "\\\"x"}, L"p \"say \\\"hi\\\"\" \"end\\\\\" \"end \\\\\" \"\\\\\\\"x\""},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::win32::CommandLine(c.program, c.args), c.line);
}
#endif

}  // namespace
