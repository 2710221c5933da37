// What the goal's task update puts on the mail-access program's command
// line: a comment cut to what a Windows command line safely holds.
#include <gtest/gtest.h>

#include <string>

#include "exchange/operations.h"
#include "tasks/goal_task.h"

namespace {

TEST(GoalTaskCommandLine, ALongCommentIsCutBetweenCharactersWithANote) {
  constexpr size_t kMax = exchange::kMaxTaskCommentBytes;
  struct Case {
    std::string comment;
    std::string kept;  // the start the result must have
    std::string note;  // its end; empty: the comment unchanged
  };
  const std::string twoByte = "\xC3\xA9";  // é
  std::string accented;
  while (accented.size() < kMax + 10) accented += twoByte;
  const Case cases[] = {
      {"On track", "On track", ""},
      {std::string("On\0track", 8), "Ontrack", ""},
      {std::string(kMax, 'a'), std::string(kMax, 'a'), ""},
      {std::string(kMax + 1, 'a'), std::string(kMax - 60, 'a'), " [cut: the comment ran to 8001 bytes]"},
      {"x" + accented, "x" + twoByte, " [cut: the comment ran to 8011 bytes]"},
  };
  for (const Case& c : cases) {
    const std::string line = CommentForCommandLine(c.comment);
    EXPECT_LE(line.size(), kMax);
    EXPECT_EQ(line.rfind(c.kept, 0), 0u) << line.substr(0, 40);
    if (c.note.empty()) {
      EXPECT_EQ(line, c.kept);
      continue;
    }
    ASSERT_TRUE(line.ends_with(c.note)) << line.substr(line.size() - 60);
    // What is kept ends with a whole character.
    const std::string kept = line.substr(0, line.size() - c.note.size());
    EXPECT_TRUE(c.comment.rfind(kept, 0) == 0 && (kept.size() == c.comment.size() ||
                                                   (static_cast<unsigned char>(c.comment[kept.size()]) & 0xC0) != 0x80));
  }
}

}  // namespace
