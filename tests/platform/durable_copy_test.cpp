// Copying a file so that it stands under its new name whole or not at all,
// and never over a file already there.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "child_program.h"
#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/files.h"

namespace {

using platform::CreateResult;
using platform_test::ScratchFolder;

std::string LongContent() {
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += "row " + std::to_string(i) + "\n";
  return text;
}

TEST(DurableCopy, CopiesOnlyWhereNothingIsAndLeavesNothingElse) {
  struct Case {
    const char* what;
    std::optional<std::string> source;  // none: no original
    std::optional<std::string> target;  // what stands under the new name before
    CreateResult result;
    std::optional<std::string> after;  // under the new name afterwards
  } cases[] = {
      {"a small file", "SQLite format 3", std::nullopt, CreateResult::Created, "SQLite format 3"},
      {"an empty file", "", std::nullopt, CreateResult::Created, ""},
      {"a file longer than one read", LongContent(), std::nullopt, CreateResult::Created, LongContent()},
      {"a newer copy already there", "old", "newer", CreateResult::Exists, "newer"},
      {"no original", std::nullopt, std::nullopt, CreateResult::Failed, std::nullopt},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    const std::string from = scratch.file("original.db"), to = scratch.file("copy.db");
    if (c.source) {
      ASSERT_TRUE(platform::WriteWholeFile(from, *c.source)) << c.what;
    }
    if (c.target) {
      ASSERT_TRUE(platform::WriteWholeFile(to, *c.target)) << c.what;
    }
    std::string error;
    EXPECT_EQ(platform::CopyFileDurably(from, to, &error), c.result) << c.what << ": " << error;
    std::string content;
    EXPECT_EQ(platform::ReadWholeFile(to, content), c.after.has_value()) << c.what;
    if (c.after) {
      EXPECT_EQ(content, *c.after) << c.what;
    }
    // Nothing but the two names: no part of a copy is left lying about.
    std::vector<platform::DirectoryEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(scratch.path(), entries));
    EXPECT_EQ(entries.size(), size_t{c.source.has_value()} + size_t{c.after.has_value()}) << c.what;
    if (c.result == CreateResult::Created) {
      EXPECT_TRUE(platform::AppendToFile(to, "written")) << c.what << ": the copy cannot be written";
    }
  }
}

// A copy into a folder that is not there fails whole, and says why.
TEST(DurableCopy, FailsWholeWhereTheFolderIsMissing) {
  ScratchFolder scratch;
  const std::string from = scratch.file("original.db");
  ASSERT_TRUE(platform::WriteWholeFile(from, "data"));
  std::string error;
  EXPECT_EQ(platform::CopyFileDurably(from, scratch.file("missing/copy.db"), &error), CreateResult::Failed);
  EXPECT_NE(error, "");
  EXPECT_FALSE(platform::IsDirectory(scratch.file("missing")));
}

}  // namespace
