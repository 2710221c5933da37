// The task store rewrites only the lines of the task it updates: libical
// reads some broken values without complaint and writes them in a form it
// then refuses, so a broken value elsewhere in the file must stay as it was
// written, or the file would be stuck for every later update.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "tasks/goal_task.h"
#include "tasks/task_store.h"
#include "test_support.h"
#include "platform/environment.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

TEST(TaskStoreRewrite, ABrokenValueLibicalWouldWriteBackUnreadableStaysAsItWasWritten) {
  testing_support::ScratchDir dir;
  platform::SetEnvironmentValue(kTasksFolderVariable, dir.path());
  // The second task's time stamp is no date; libical takes it and would
  // write "DTSTAMP;VALUE=DATE:20270000", which it cannot read again.
  const std::string broken =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\n"
      "BEGIN:VTODO\r\nUID:a\r\nDTSTAMP:20270101T080000Z\r\nSUMMARY:Task a\r\nDESCRIPTION:Goal GOAL-7\r\nEND:VTODO\r\n"
      "BEGIN:VTODO\r\nUID:b\r\nDTSTAMP:2027000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  WriteFile(dir.file("a.ics"), broken);
  ASSERT_TRUE(UpdateOutlookGoalTask("GOAL-7", 50, "half way"));
  const std::string first = ReadFile(dir.file("a.ics"));
  EXPECT_NE(first.find("PERCENT-COMPLETE:50\r\n"), std::string::npos) << first;
  EXPECT_NE(first.find("BEGIN:VTODO\r\nUID:b\r\nDTSTAMP:2027000Z\r\nEND:VTODO\r\n"), std::string::npos) << first;
  EXPECT_EQ(testing_support::ListFolder(dir.path()).size(), 1u) << "a temporary file was left behind";

  // And the file is updated again the next time.
  ASSERT_TRUE(UpdateOutlookGoalTask("GOAL-7", 60, "more"));
  EXPECT_NE(ReadFile(dir.file("a.ics")).find("PERCENT-COMPLETE:60\r\n"), std::string::npos);
  platform::RemoveEnvironmentValue(kTasksFolderVariable);
}

}  // namespace
