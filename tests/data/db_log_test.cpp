#include "data/db_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "data/db_connection.h"
#include "test_support.h"
#include "util/identifiers.h"
#include "util/text_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using testing_support::ReadFile;

const std::string kRule(64, '=');

TEST(DBLogEntry, HasBothRulesTheStampAndTheText) {
  EXPECT_EQ(DBLogEntry("\r\n\r\n12-07-2026   16:09  - ", "disk I/O error"),
            "\r\n\r\n" + kRule + "\r\n\r\n\r\n12-07-2026   16:09  - disk I/O error\r\n" + kRule + "\r\n");
  EXPECT_EQ(DBLogEntry("S", ""), "\r\n\r\n" + kRule + "\r\nS\r\n" + kRule + "\r\n");
}

TEST(WriteDBLog, AppendsATimeStampedEntryAndKeepsWhatWasThere) {
  const std::string path = PathBesideProgram(kDBLogFileName);
  const std::string before = ReadFile(path);
  const std::string text = "failure " + NewGuidString();
  CaptureStderr();
  EXPECT_TRUE(WriteDBLog(kDBLogFileName, text.c_str()));
  const std::string err = GetCapturedStderr();
  const std::string after = ReadFile(path);
  ASSERT_GE(after.size(), before.size());
  // Other test programs may append at the same moment; our entry is whole.
  const std::regex entry("\r\n\r\n={64}\r\n\r\n\r\n\\d\\d-\\d\\d-\\d{4}   \\d\\d:\\d\\d  - " + text.substr(0, 8) +
                         "[^\r]*\r\n={64}\r\n");
  EXPECT_TRUE(std::regex_search(after, entry));
  EXPECT_NE(after.find(text), std::string::npos);
  EXPECT_NE(err.find("Corvane Has Encountered an Error\n"), std::string::npos);
}

TEST(WriteDBLog, ReportsFailureButStillAlertsWhenTheFileCannotBeWritten) {
  CaptureStderr();
  EXPECT_FALSE(WriteDBLog("no-such-folder/LV_DB_Log.txt", "x"));
  EXPECT_NE(GetCapturedStderr().find("Corvane Has Encountered an Error"), std::string::npos);
}

TEST(WriteDBLog, KeepsEveryEntryOfProcessesWritingAtTheSameMoment) {
  const std::string name = "concurrent-" + NewGuidString().substr(1, 8) + ".txt";
  const std::string path = PathBesideProgram(name);
  constexpr int kWriters = 4, kEntries = 50;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      freopen("/dev/null", "w", stderr);
      for (int i = 0; i < kEntries; ++i) WriteDBLog(name.c_str(), ("writer " + std::to_string(w)).c_str());
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  const std::string log = ReadFile(path);
  unlink(path.c_str());
  const std::string one = DBLogEntry("", "writer 0");
  const std::regex whole("\r\n\r\n={64}\r\n\r\n\r\n[0-9: -]+- writer [0-9]\r\n={64}\r\n");
  size_t count = std::distance(std::sregex_iterator(log.begin(), log.end(), whole), std::sregex_iterator());
  EXPECT_EQ(count, static_cast<size_t>(kWriters * kEntries));
  EXPECT_EQ(log.size() % (one.size() + 26), 0u);  // nothing torn: every entry has the same length
}

}  // namespace
