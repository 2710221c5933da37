#include "data/core.h"

#include <gtest/gtest.h>

#include <memory>

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
