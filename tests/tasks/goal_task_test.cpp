// The comment as the goal's task update puts it on the mail-access
// program's command line: cut to what a Windows command line safely holds.
#include <gtest/gtest.h>

#include <string>

#include "exchange/operations.h"
#include "tasks/goal_task.h"

namespace {

TEST(GoalTaskCommandLine, ALongCommentIsCutBetweenCharactersWithANote) {
  constexpr size_t kMax = exchange::kMaxTaskCommentBytes;
  std::string accented;
  while (accented.size() < kMax + 10) accented += "\xC3\xA9";  // é
  const std::pair<std::string, std::string> cases[] = {
      {"On track", "On track"},
      {std::string("On\0track", 8), "Ontrack"},
      {std::string(kMax, 'a'), std::string(kMax, 'a')},
      {std::string(kMax + 1, 'a'), std::string(kMax - 37, 'a') + " [cut: the comment ran to 8001 bytes]"},
      // The cut would fall inside a character: the whole character goes.
      {accented, accented.substr(0, kMax - 38) + " [cut: the comment ran to 8010 bytes]"},
  };
  for (const auto& [comment, expected] : cases) {
    EXPECT_TRUE(CommentForCommandLine(comment) == expected) << expected.substr(expected.size() - 40);
  }
}

}  // namespace
