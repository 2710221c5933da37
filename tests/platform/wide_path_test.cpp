// Names beyond ASCII work in every file and folder call; on Windows they pass
// through the wide-character calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "child_program.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "platform/program_path.h"

namespace {

using platform_test::ScratchFolder;

const std::string kSeparator(1, platform::PathSeparator());

std::string Read(const std::string& path) {
  std::string content;
  EXPECT_TRUE(platform::ReadWholeFile(path, content)) << path;
  return content;
}

TEST(WidePaths, EveryFileAndFolderCallTakesThem) {
  ScratchFolder scratch;
  const std::string folder = scratch.file("é") + kSeparator + "Grüße";
  std::string error;
  ASSERT_TRUE(platform::MakeDirectories(folder, &error)) << error;
  EXPECT_TRUE(platform::IsDirectory(folder));
  EXPECT_TRUE(platform::IsWritableDirectory(folder));

  const std::string file = folder + kSeparator + "Grüße é.txt";
  ASSERT_TRUE(platform::WriteWholeFile(file, "Grüße", &error)) << error;
  ASSERT_TRUE(platform::AppendToFile(file, " é", &error)) << error;
  EXPECT_EQ(Read(file), "Grüße é");

  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(folder, entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Grüße é.txt");
  EXPECT_TRUE(entries[0].regularFile);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr)) * 1000000000;
  EXPECT_LT(std::llabs(entries[0].modifiedNs - now), 3600LL * 1000000000) << "nanoseconds since 1970, UTC";

  const std::string moved = folder + kSeparator + "Größe.txt";
  EXPECT_EQ(platform::MoveFileNoReplace(file, moved, &error), platform::MoveResult::Moved) << error;
  EXPECT_FALSE(platform::FileExists(file));
  ASSERT_TRUE(platform::WriteWholeFile(file, "other"));
  EXPECT_EQ(platform::MoveFileNoReplace(file, moved), platform::MoveResult::TargetExists);
  EXPECT_EQ(Read(moved), "Grüße é");
  ASSERT_TRUE(platform::RemoveFile(file));
  EXPECT_EQ(platform::MoveFileNoReplace(file, moved), platform::MoveResult::SourceMissing);

  ASSERT_TRUE(platform::ReplaceFileAtomically(moved, "neu", &error)) << error;
  EXPECT_EQ(Read(moved), "neu");
  EXPECT_FALSE(platform::FileExists(platform::PartialFileName(moved)));
  EXPECT_EQ(platform::CreateNewFileDurably(moved, "x"), platform::CreateResult::Exists);
  EXPECT_EQ(Read(moved), "neu");

  std::string reason;
  EXPECT_FALSE(platform::ReadWholeFile(folder + kSeparator + "fehlt é", reason, &error));
  EXPECT_NE(error.find("'" + folder + kSeparator + "fehlt é': "), std::string::npos) << error;
}

#ifdef _WIN32
TEST(WidePaths, FoldersAreMadeWithEitherSeparatorAndFromADriveRoot) {
  ScratchFolder scratch;
  const std::string drive = scratch.path().substr(0, 2);  // "C:"
  ASSERT_EQ(drive[1], ':') << scratch.path();
  const std::string cases[] = {
      drive + "\\",
      drive + "/",
      scratch.path() + "/a/b\\c",
      scratch.path() + "\\d/e\\",
      drive + scratch.path().substr(2) + "\\f\\g",
  };
  for (const auto& folder : cases) {
    std::string error;
    EXPECT_TRUE(platform::MakeDirectories(folder, &error)) << folder << ": " << error;
    EXPECT_TRUE(platform::IsDirectory(folder)) << folder;
  }
  EXPECT_TRUE(platform::IsDirectory(scratch.path() + "\\a\\b\\c"));
  ASSERT_TRUE(platform::WriteWholeFile(scratch.file("file"), ""));
  std::string error;
  EXPECT_FALSE(platform::MakeDirectories(scratch.file("file") + "\\below", &error));
  EXPECT_NE(error.find(scratch.file("file")), std::string::npos) << error;
}
#endif

}  // namespace
