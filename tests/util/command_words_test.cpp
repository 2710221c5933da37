#include "util/command_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
  const char* text;
  bool closed;
  std::vector<std::string> words;
};

TEST(CommandWords, SplitsAtBlanksAndKeepsQuotedBlanks) {
  const SplitCase cases[] = {
      {"", true, {}},
      {"  \t ", true, {}},
      {"get-token", true, {"get-token"}},
      {"  get-token   --user  ann ", true, {"get-token", "--user", "ann"}},
      {"\"C:/Program Files/tok.exe\" -q", true, {"C:/Program Files/tok.exe", "-q"}},
      {"a\"b c\"d e", true, {"ab cd", "e"}},
      {"tok \"\" x", true, {"tok", "", "x"}},
      {"tok\t\"two words\"", true, {"tok", "two words"}},
      {"tok \"unclosed", false, {"tok", "unclosed"}},
  };
  for (const SplitCase& c : cases) {
    std::vector<std::string> words = {"left over"};
    EXPECT_EQ(command_words::Split(c.text, words), c.closed) << c.text;
    EXPECT_EQ(words, c.words) << c.text;
  }
}

}  // namespace
