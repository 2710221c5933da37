#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "child_program.h"
#include "platform/alert.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

TEST(ErrorAlert, ABoxOnlyWhereSomeoneSeesItAndTheLinesOtherwise) {
  struct Case {
    bool visibleDesktop;
    bool boxWorks;
    bool boxTried;
    bool linesWritten;
  };
  const Case cases[] = {
      {false, true, false, true},  // a service, a hidden desktop: never a box
      {true, true, true, false},
      {true, false, true, true},  // the box could not be made
  };
  for (const auto& c : cases) {
    bool tried = false, written = false;
    const bool shown = platform::DeliverAlert(
        c.visibleDesktop, [&] { return tried = true, c.boxWorks; }, [&] { written = true; });
    EXPECT_EQ(tried, c.boxTried) << c.visibleDesktop << c.boxWorks;
    EXPECT_EQ(written, c.linesWritten) << c.visibleDesktop << c.boxWorks;
    EXPECT_EQ(shown, !c.linesWritten);
  }
}

TEST(ErrorAlert, WithoutABoxBothLinesGoToStandardError) {
  platform_test::ScratchFolder scratch;
  platform::BackgroundProcess child;
  platform::BackgroundProcess::Options options;
  options.errorFile = scratch.file("err");
  ASSERT_TRUE(child.Start(platform_test::Self(),
                          platform_test::ChildArguments("alert", {"LvMAPI Grüße", "database error é"}), options));
  // On a desktop someone sees, a box may be waiting for that person.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (child.Running() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (child.Running() && platform::OnVisibleDesktop()) GTEST_SKIP() << "a box is up, waiting for a person";
  EXPECT_EQ(child.Wait().exitCode, 0);
  std::string written;
  ASSERT_TRUE(platform::ReadWholeFile(options.errorFile, written));
  EXPECT_EQ(written, "LvMAPI Grüße\ndatabase error é\n");
}

}  // namespace
