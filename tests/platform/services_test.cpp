// The small services, each as the system under it can break it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "child_program.h"
#include "platform/clock.h"
#include "platform/durable_file.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/guid.h"
#include "platform/host.h"
#include "platform/memory.h"
#include "platform/program_path.h"
#include "test_support.h"

namespace {

TEST(Services, GuidsAreNewAndInRegistryForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string guid = platform::NewRegistryGuid();
    ASSERT_EQ(guid.size(), 38u) << guid;
    for (size_t at = 0; at < guid.size(); ++at) {
      const char c = guid[at];
      if (at == 0) EXPECT_EQ(c, '{');
      else if (at == 37) EXPECT_EQ(c, '}');
      else if (at == 9 || at == 14 || at == 19 || at == 24) EXPECT_EQ(c, '-') << guid;
      else EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << guid;
    }
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 20u);
}

TEST(Services, TheProgramKnowsItselfItsMachineAndTheTime) {
  const std::string self = platform::RunningProgramPath();
  EXPECT_TRUE(platform::FileExists(self)) << self;
  EXPECT_NE(self.find(platform::PathSeparator()), std::string::npos) << self;
  EXPECT_NE(self.find("test_platform"), std::string::npos) << self;
  EXPECT_FALSE(platform::HostName().empty());
  EXPECT_GT(platform::ProcessId(), 0);
  platform::CalendarTime now;
  ASSERT_TRUE(platform::LocalNow(now));
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31 && now.hour < 24 &&
              now.minute < 60 && now.second < 60);
}

// Paths shown to a person hold one kind of separator, the system's.
TEST(Services, PartsOfAPathAreJoinedWithTheSystemsSeparator) {
  const std::string s(1, platform::PathSeparator());
  struct Case {
    std::string folder, name, joined;
  } cases[] = {
      {"base", "Mail/Outbox", "base" + s + "Mail" + s + "Outbox"},
      {"base" + s, "x.tmp", "base" + s + "x.tmp"},
      {"", "Mail/Inbox", "Mail" + s + "Inbox"},
      {"base", "", "base" + s},
      {"a" + s + "b/c", "d", "a" + s + "b" + s + "c" + s + "d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::JoinPath(c.folder, c.name), c.joined) << c.folder << " + " << c.name;
  }
}

// A program folder this account can write is never virtualized: its files
// are read and written where they lie.
TEST(Services, FilesBesideAWritableProgramFolderStayThere) {
  EXPECT_EQ(platform::VirtualStoreFolder(), "");
  const std::string self = platform::RunningProgramPath();
  const std::string folder = self.substr(0, self.find_last_of(platform::PathSeparator()) + 1);
  EXPECT_EQ(platform::FileBesideRunningProgram("Mail/Outbox"), platform::JoinPath(folder, "Mail/Outbox"));
  EXPECT_EQ(platform::FileBesideRunningProgram(""), folder);
}

TEST(Services, LargePagesAreAlignedZeroedAndWritable) {
  const std::size_t size = 3 * 1024 * 1024 + 4096;
  auto* memory = static_cast<unsigned char*>(platform::ReserveLargePages(size));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % (2 * 1024 * 1024), 0u);
  EXPECT_EQ(memory[0] | memory[size / 2] | memory[size - 1], 0);
  memory[0] = memory[size - 1] = 0xAB;
  EXPECT_EQ(memory[0] & memory[size - 1], 0xAB);
}

TEST(Services, EnvironmentChangesReachTheRuntimeToo) {
  const std::string name = "PLATFORM_TEST_ENV";
  ASSERT_TRUE(platform::SetEnvironmentValue(name, "Grüße é"));
  EXPECT_EQ(platform::EnvironmentValue(name), "Grüße é");
  const char* seen = std::getenv(name.c_str());
  ASSERT_NE(seen, nullptr) << "getenv must see it as well";
  ASSERT_TRUE(platform::RemoveEnvironmentValue(name));
  EXPECT_EQ(platform::EnvironmentValue(name), std::nullopt);
  EXPECT_EQ(std::getenv(name.c_str()), nullptr);
  for (const char* bad : {"", "A=B"}) EXPECT_FALSE(platform::SetEnvironmentValue(bad, "x")) << bad;
}

TEST(Services, ALockIsHeldAgainstOthersUntilItsObjectGoes) {
  platform_test::ScratchFolder scratch;
  const std::string path = scratch.file("Grüße.lock");
  std::string error;
  auto first = std::make_unique<platform::FileLock>();
  ASSERT_EQ(first->Acquire(path, std::chrono::milliseconds(0), &error), platform::FileLock::Result::Acquired)
      << error;
  EXPECT_TRUE(first->held());
  platform::FileLock second;
  EXPECT_EQ(second.Acquire(path, std::chrono::milliseconds(120), &error), platform::FileLock::Result::Busy);
  EXPECT_FALSE(second.held());
  std::string content;
  EXPECT_TRUE(platform::ReadWholeFile(path, content)) << "the lock keeps nobody from reading the file";
  first.reset();
  EXPECT_EQ(second.Acquire(path, std::chrono::milliseconds(0), &error), platform::FileLock::Result::Acquired)
      << error;
  platform::FileLock broken;
  EXPECT_EQ(broken.Acquire(scratch.file("no folder") + platform::PathSeparator() + "x.lock",
                           std::chrono::milliseconds(0), &error),
            platform::FileLock::Result::Failed);
  EXPECT_NE(error.find("x.lock"), std::string::npos) << error;
}

}  // namespace

namespace replacement {

// A file made piece by piece stands under its name whole or not at all, and
// leaves no ".part" behind whichever way it ends.
TEST(FileReplacement, TheOldContentStaysUntilTheNewIsCommitted) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file("in.tmp");
  const std::string part = platform::PartialFileName(path);
  ASSERT_TRUE(platform::ReplaceFileAtomically(path, "old"));

  {
    platform::FileReplacement abandoned(path);
    ASSERT_TRUE(abandoned.Open());
    ASSERT_TRUE(abandoned.Append("never"));
    EXPECT_TRUE(platform::FileExists(part));
  }
  EXPECT_FALSE(platform::FileExists(part));
  EXPECT_EQ(testing_support::ReadFile(path), "old");

  platform::FileReplacement replacement(path);
  ASSERT_TRUE(replacement.Open());
  for (const char* piece : {"<Body1>", "", "new", "</Body1>\r\n"}) ASSERT_TRUE(replacement.Append(piece));
  EXPECT_EQ(testing_support::ReadFile(path), "old");
  ASSERT_TRUE(replacement.Commit());
  EXPECT_EQ(testing_support::ReadFile(path), "<Body1>new</Body1>\r\n");
  EXPECT_FALSE(platform::FileExists(part));

  std::string why;
  EXPECT_FALSE(replacement.Append("after", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(replacement.Commit());
}

TEST(FileReplacement, AFolderThatIsNotThereIsToldAndNothingIsLeft) {
  testing_support::ScratchDir dir;
  platform::FileReplacement replacement(dir.file("no/such/folder/in.tmp"));
  std::string why;
  EXPECT_FALSE(replacement.Open(&why));
  EXPECT_NE(why.find("cannot create"), std::string::npos) << why;
  EXPECT_FALSE(replacement.Append("x"));
  EXPECT_FALSE(replacement.Commit());
}

TEST(FileReplacement, NothingAppendedMakesAnEmptyFile) {
  testing_support::ScratchDir dir;
  platform::FileReplacement replacement(dir.file("empty.tmp"));
  ASSERT_TRUE(replacement.Open());
  ASSERT_TRUE(replacement.Commit());
  EXPECT_EQ(testing_support::ReadFile(dir.file("empty.tmp")), "");
}

}  // namespace replacement
