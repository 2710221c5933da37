#include <gtest/gtest.h>

#include "child_program.h"
#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_path.h"

namespace {

using platform_test::ChildArguments;
using platform_test::ScratchFolder;
using platform_test::Self;

std::string Read(const std::string& path) {
  std::string content;
  platform::ReadWholeFile(path, content);
  return content;
}

TEST(BackgroundProcess, RunsUntilKilledAndThenReportsSignal9) {
  platform::BackgroundProcess child;
  std::string error;
  ASSERT_TRUE(child.Start(Self(), ChildArguments("sleep"), {}, &error)) << error;
  EXPECT_TRUE(child.Running());
  child.Kill();
  const auto outcome = child.Wait();
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.signal, 9);
  EXPECT_EQ(outcome.exitCode, -1);
  EXPECT_FALSE(child.Running());
  EXPECT_EQ(child.Wait().signal, 9) << "a second wait tells the same";
}

TEST(BackgroundProcess, HonoursEnvironmentFolderAndOutputFiles) {
  ScratchFolder scratch;
  const std::string folder = scratch.file("Arbeit é");
  ASSERT_TRUE(platform::MakeDirectories(folder));
  ASSERT_TRUE(platform::WriteWholeFile(folder + platform::PathSeparator() + "marker", "here"));
  ASSERT_TRUE(platform::SetEnvironmentValue("PLATFORM_TEST_INHERITED", "from the parent"));
  ASSERT_TRUE(platform::SetEnvironmentValue("PLATFORM_TEST_REPLACED", "old"));

  struct Case {
    std::string variable;
    std::string expected;
  };
  const Case cases[] = {
      {"PLATFORM_TEST_INHERITED", "PLATFORM_TEST_INHERITED=from the parent"},
      {"PLATFORM_TEST_REPLACED", "PLATFORM_TEST_REPLACED=Grüße, new"},
      {"PLATFORM_TEST_ADDED", "PLATFORM_TEST_ADDED=added"},
      {"PLATFORM_TEST_NEVER_SET", "PLATFORM_TEST_NEVER_SET unset"},
  };
  for (const auto& c : cases) {
    platform::BackgroundProcess::Options options;
    options.environment = {{"PLATFORM_TEST_REPLACED", "Grüße, new"}, {"PLATFORM_TEST_ADDED", "added"}};
    options.workDir = folder;
    options.outputFile = scratch.file("out é.txt");
    options.errorFile = scratch.file("err.txt");
    platform::BackgroundProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(Self(), ChildArguments("report", {c.variable, "marker"}), options, &error)) << error;
    const auto outcome = child.Wait();
    EXPECT_TRUE(outcome.started);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(Read(options.outputFile), c.expected + "\nhere\n");
    EXPECT_EQ(Read(options.errorFile), "reported\n");
  }
  platform::RemoveEnvironmentValue("PLATFORM_TEST_INHERITED");
  platform::RemoveEnvironmentValue("PLATFORM_TEST_REPLACED");
}

TEST(BackgroundProcess, ACrashIsToldAsTheSignalOfItsFault) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers catch the child's fault themselves and end it with their own status";
#endif
  const std::pair<const char*, int> cases[] = {{"crash-memory", 11}, {"crash-instruction", 4}};
  for (const auto& [task, signal] : cases) {
    ScratchFolder scratch;
    platform::BackgroundProcess::Options options;
    options.errorFile = scratch.file("err");  // the system's crash report, if any, goes there
    platform::BackgroundProcess child;
    ASSERT_TRUE(child.Start(Self(), ChildArguments(task), options));
    const auto outcome = child.Wait();
    EXPECT_EQ(outcome.signal, signal) << task << " exit " << outcome.exitCode;
    EXPECT_EQ(outcome.exitCode, -1) << task;
  }
}

TEST(BackgroundProcess, AProgramThatCannotStartLeavesNothingToWaitFor) {
  ScratchFolder scratch;
  platform::BackgroundProcess missing;
  std::string error;
  EXPECT_FALSE(missing.Start(scratch.file("no-such-program"), {}, {}, &error));
  EXPECT_NE(error.find("no-such-program"), std::string::npos) << error;
  EXPECT_FALSE(missing.Running());
  EXPECT_FALSE(missing.Wait().started);

  platform::BackgroundProcess badOutput;
  platform::BackgroundProcess::Options options;
  options.outputFile = scratch.file("missing folder") + platform::PathSeparator() + "out";
  EXPECT_FALSE(badOutput.Start(Self(), ChildArguments("echo"), options, &error));
  EXPECT_FALSE(badOutput.Wait().started);
}

}  // namespace
