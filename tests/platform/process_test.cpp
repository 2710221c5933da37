#include "platform/process.h"

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using testing_support::ReadFile;

#ifndef _WIN32
// A shell script as the child; command_line_test.cpp passes awkward arguments
// on every system.
TEST(RunAndWait, PassesEachArgumentUnchangedWithoutAShell) {
  testing_support::ScratchDir dir;
  const std::string script = dir.file("record.sh");
  testing_support::WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$OUT\"\nexit 7\n");
  chmod(script.c_str(), 0755);
  platform::SetEnvironmentValue("OUT", dir.file("args"));
  const auto outcome =
      platform::RunAndWait(script, {"2", dir.file("a b.tmp"), "Corvane Survey - \"Spring\" $HOME `x`", "0", ""});
  platform::RemoveEnvironmentValue("OUT");
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.exitCode, 7);
  EXPECT_EQ(ReadFile(dir.file("args")),
            "[2]\n[" + dir.file("a b.tmp") + "]\n[Corvane Survey - \"Spring\" $HOME `x`]\n[0]\n[]\n");
}
#endif

TEST(RunAndWait, ReportsAProgramThatCannotBeStarted) {
  const auto missing = platform::RunAndWait("/nonexistent/LVEmailAccess", {"4"});
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.error.empty());

  const auto notOnPath = platform::RunAndWait("LVEmailAccess-not-installed-anywhere", {});
  EXPECT_FALSE(notOnPath.started);
}

TEST(Files, AppendKeepsEarlierContentAndRemoveReportsMissingFiles) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file("f");
  EXPECT_TRUE(platform::AppendToFile(path, "one"));
  EXPECT_TRUE(platform::AppendToFile(path, "two"));
  std::string content;
  EXPECT_TRUE(platform::ReadWholeFile(path, content));
  EXPECT_EQ(content, "onetwo");
  EXPECT_TRUE(platform::RemoveFile(path));
  EXPECT_FALSE(platform::RemoveFile(path));
  std::string error;
  EXPECT_FALSE(platform::ReadWholeFile(path, content, &error));
  EXPECT_TRUE(content.empty());
  EXPECT_NE(error.find(path), std::string::npos);
}

TEST(Files, WritingToAFullDiskIsAFailure) {
  if (!platform::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string error;
  EXPECT_FALSE(platform::AppendToFile("/dev/full", "x", &error));
  EXPECT_NE(error.find("No space"), std::string::npos) << error;
}

}  // namespace
