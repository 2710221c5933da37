#include "data/core.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(CLVTrace, PrintsItsTextAsOneLineWhenDestroyed) {
  CaptureStdout();
  {
    CLVCore core;
    core.Trace("CBizObjectCollection::clear()");
    core.Trace("CBizObjectCollection::clear()");
  }
  EXPECT_EQ(GetCapturedStdout(), "CBizObjectCollection::clear()CBizObjectCollection::clear()\n");
}

// The trace is kept as runs of one text repeated; what is printed must be
// the texts run together exactly as traced, also for runs longer than one
// piece of output and for texts longer than a piece.
TEST(CLVTrace, PrintsRepeatedTextsExactlyAsTraced) {
  const std::string longText(20000, 'x');
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::size_t>> traced;
  } cases[] = {
      {"one long run", {{"CBizObjectCollection::load()", 100000}}},
      {"runs of one", {{"a", 1}, {"bc", 1}, {"a", 1}}},
      {"a run split by another text", {{"load()", 700}, {"clear()", 1}, {"load()", 3}, {"load()", 2}}},
      {"a text longer than a piece", {{longText, 3}, {"y", 1}}},
      {"empty texts and no times", {{"", 5}, {"z", 0}, {"z", 1}}},
  };
  for (const auto& c : cases) {
    std::string expected;
    CaptureStdout();
    {
      CLVCore core;
      for (const auto& [text, times] : c.traced) {
        EXPECT_TRUE(core.Trace(text, times));
        for (std::size_t i = 0; i < times; ++i) expected += text;
      }
      EXPECT_TRUE(core.TraceText() == expected) << c.name;
    }
    EXPECT_TRUE(GetCapturedStdout() == expected + "\n") << c.name;
  }
}

TEST(CLVTrace, PrintsNothingWhenItsTextIsEmpty) {
  CaptureStdout();
  { CLVCore core; }
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(CLVCore, IsDestroyedWholeThroughEitherBase) {
  CaptureStdout();
  {
    std::unique_ptr<CLVError> viaError = std::make_unique<CLVCore>();
    dynamic_cast<CLVTrace&>(*viaError).Trace("a");
    CLVTrace* raw = new CLVCore;
    raw->Trace("b");
    delete raw;
  }
  EXPECT_EQ(GetCapturedStdout(), "b\na\n");
}

TEST(CLVCommand, ExecuteDoesNothing) {
  CaptureStdout();
  {
    CLVCommand command;
    command.Execute();
    EXPECT_TRUE(command.TraceText().empty());
  }
  EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
