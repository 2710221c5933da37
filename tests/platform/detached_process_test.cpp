#include <gtest/gtest.h>

#include "child_program.h"
#include "platform/files.h"
#include "platform/process.h"

#include <chrono>
#include <thread>

namespace {

using platform_test::ChildArguments;
using platform_test::ScratchFolder;
using platform_test::Self;

// A caller that reads its child's output through pipes (as LvMAPI reads
// LVEmailAccess) gets control back while the program that child started
// detached is still at work, and that program runs on to its end with
// exactly the arguments it was given.
TEST(StartDetached, TheProgramOutlivesACallerThatCapturesItsStarterAndGetsItsArguments) {
  ScratchFolder scratch;
  const std::string written = scratch.file("written later");
  const auto outcome =
      platform::RunAndWait(Self(),
                           ChildArguments("detach", {"write-later", "3", written, "two words", "a \"quoted\" one", ""}),
                           platform::ErrorOutput::Capture, platform::StandardOutput::Capture);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.errorOutput;
  EXPECT_EQ(outcome.output, "detached\n");
  EXPECT_FALSE(platform::FileExists(written)) << "the caller waited for the detached program";

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!platform::FileExists(written) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(written, content)) << "the detached program did not outlive its starter";
  EXPECT_EQ(content, "[two words]\n[a \"quoted\" one]\n[]\n");
}

TEST(StartDetached, AProgramThatCannotBeStartedIsReported) {
  std::string error;
  EXPECT_FALSE(platform::StartDetached(Self() + ".missing", {"x"}, &error));
  EXPECT_NE(error.find(".missing"), std::string::npos) << error;
}

}  // namespace
