// The task store never writes a task file that it could not read back
// cleanly: libical reads some broken values without complaint and writes
// them in a form it then refuses, which would leave the task stuck for every
// later update.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "mail/task_store.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

TEST(TaskStoreRewrite, AFileLibicalWouldWriteBackUnreadableIsLeftAsItWas) {
  testing_support::ScratchDir dir;
  setenv(kTasksFolderVariable, dir.path().c_str(), 1);
  // The second task's time stamp is no date; libical takes it and would
  // write "DTSTAMP;VALUE=DATE:20270000", which it cannot read again.
  const std::string broken =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\n"
      "BEGIN:VTODO\r\nUID:a\r\nDTSTAMP:20270101T080000Z\r\nSUMMARY:Task a\r\nDESCRIPTION:Goal GOAL-7\r\nEND:VTODO\r\n"
      "BEGIN:VTODO\r\nUID:b\r\nDTSTAMP:2027000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  WriteFile(dir.file("a.ics"), broken);
  EXPECT_FALSE(UpdateOutlookGoalTask("GOAL-7", 50, "half way"));
  EXPECT_EQ(ReadFile(dir.file("a.ics")), broken);
  EXPECT_EQ(testing_support::ListFolder(dir.path()).size(), 1u) << "a temporary file was left behind";

  // The same task without the broken neighbour is updated.
  const std::string sound = broken.substr(0, broken.find("BEGIN:VTODO\r\nUID:b")) + "END:VCALENDAR\r\n";
  WriteFile(dir.file("a.ics"), sound);
  EXPECT_TRUE(UpdateOutlookGoalTask("GOAL-7", 50, "half way"));
  EXPECT_NE(ReadFile(dir.file("a.ics")).find("PERCENT-COMPLETE:50\r\n"), std::string::npos);
  unsetenv(kTasksFolderVariable);
}

}  // namespace
