#include "util/text_files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/file_names.h"
#include "platform/program_path.h"
#include "test_support.h"

using testing_support::Visible;

namespace {

// The rule as written: replace-all passes that resume at match + length of
// the searched text. The fast implementation must agree with it everywhere.
void ReplaceAllResumingAfterSearched(std::string& text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += from.size();
  }
}

std::string ReferenceNormalize(std::string text) {
  ReplaceAllResumingAfterSearched(text, "\n", "\n\r");
  ReplaceAllResumingAfterSearched(text, "\r\r", "\r");
  ReplaceAllResumingAfterSearched(text, "\n\r", "\r\n");
  return text;
}

std::string Normalized(std::string text) {
  NormalizeLineBreaks(text);
  return text;
}

struct LineBreakCase {
  const char* input;
  const char* expected;
};

TEST(NormalizeLineBreaks, ProducesTheDocumentedFormForEveryCommonInput) {
  const LineBreakCase cases[] = {
      {"\n", "\r\n"},                    // line feed
      {"\n\r", "\r\n"},                  // LF CR pair
      {"\r\n", "\r\r\n"},                // CR LF is not left alone
      {"\n\n", "\r\n\r\n"},              // two line feeds
      {"\n\r\n\r", "\r\n\r\n"},          // banner pairs
      {"\r", "\r"},                      // lone CR unchanged
      {"\r\r", "\r"},                    // two CRs become one
      {"a\r\n", "a\r\r\n"},
      {"a\nb", "a\r\nb"},
      {"", ""},
      {"no breaks at all", "no breaks at all"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Normalized(c.input), c.expected) << "input: " << Visible(c.input);
  }
}

TEST(NormalizeLineBreaks, SkipsTheCharacterAfterACollapsedCarriageReturnPair) {
  // Three CRs: the pair collapses and the search resumes past the third one.
  EXPECT_EQ(Normalized("\r\r\r"), "\r\r");
  EXPECT_EQ(Normalized("\r\r\r\r"), "\r\r\r");
  EXPECT_EQ(Normalized("\r\r\n"), "\r\r\n");
}

TEST(NormalizeLineBreaks, AgreesWithTheReplaceAllRuleOnEveryShortText) {
  // Every text of up to nine characters made of CR, LF and a letter: all
  // ways breaks can meet, overlap and end a text.
  const char alphabet[] = {'\r', '\n', 'x'};
  std::vector<std::string> texts{""};
  for (int length = 1; length <= 9; ++length) {
    const size_t shorter = texts.size();
    for (size_t i = 0; i < shorter; ++i) {
      if (texts[i].size() != static_cast<size_t>(length - 1)) continue;
      for (char c : alphabet) texts.push_back(texts[i] + c);
    }
  }
  ASSERT_EQ(texts.size(), 29524u);  // 3^0 + 3^1 + ... + 3^9
  for (const std::string& text : texts) {
    ASSERT_EQ(Normalized(text), ReferenceNormalize(text)) << "input: " << Visible(text);
    // The shortcut for texts the rule leaves alone is taken only for such texts.
    if (!LineBreaksNeedNormalizing(text)) {
      EXPECT_EQ(ReferenceNormalize(text), text) << "input: " << Visible(text);
    }
  }
}

TEST(NormalizeLineBreaks, AgreesWithTheReplaceAllRuleOnRandomText) {
  // Up to forty characters, so the eight-byte test of texts meets breaks in
  // every position of a word and of its overlapping last word; a tab is near
  // the breaks in value and must not be taken for one.
  std::mt19937 rng(20261208);
  const char alphabet[] = {'\r', '\n', 'x', ' ', '\t', 'y', 'z', '.'};
  std::string reused = "a longer value left in the buffer by the row before";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(rng() % 41);
    const int letters = round % 2 == 0 ? 8 : 6;  // every other text has no break at all
    for (int i = 0; i < length; ++i) text.push_back(alphabet[(rng() % letters) + (8 - letters)]);
    const std::string reference = ReferenceNormalize(text);
    ASSERT_EQ(Normalized(text), reference) << "input: " << Visible(text);
    if (!LineBreaksNeedNormalizing(text)) {
      ASSERT_EQ(reference, text) << "input: " << Visible(text);
    }
    NormalizeLineBreaksInto(text, reused);
    ASSERT_EQ(reused, reference) << "input: " << Visible(text);
  }
}

TEST(WriteTextFile, WritesTheNormalisedTextAndReplacesAnExistingFile) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file("out.txt");
  testing_support::WriteFile(path, "an older and much longer content that must disappear");
  ASSERT_TRUE(WriteTextFile(path, "one\ntwo\r\n"));
  EXPECT_EQ(testing_support::ReadFile(path), "one\r\ntwo\r\r\n");
}

TEST(WriteTextFile, EmptyTextCreatesAnEmptyFile) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file("empty.txt");
  ASSERT_TRUE(WriteTextFile(path, ""));
  EXPECT_TRUE(testing_support::Exists(path));
  EXPECT_EQ(testing_support::ReadFile(path), "");
}

TEST(WriteTextFile, ReportsFailureForAFolderThatDoesNotExist) {
  testing_support::ScratchDir dir;
  EXPECT_FALSE(WriteTextFile(dir.file("missing/out.txt"), "x"));
}

TEST(PathBesideProgram, PutsTheNameInTheFolderOfTheRunningProgram) {
  const std::string path = PathBesideProgram("LV_DB_Log.txt");
  ASSERT_GT(path.size(), std::string("/LV_DB_Log.txt").size());
  EXPECT_EQ(path.substr(path.size() - 14), platform::PathSeparator() + std::string("LV_DB_Log.txt"));
  EXPECT_TRUE(platform::IsAbsolutePath(path)) << path;
  // The folder is the one this test program lives in.
  EXPECT_TRUE(testing_support::Exists(path.substr(0, path.size() - 13) + "test_util" + LVMAPI_EXE_SUFFIX));
}

TEST(DisplayName, JoinsOnlyTheNamesThatArePresent) {
  EXPECT_EQ(DisplayName("Ann", "", "Lee"), "Ann Lee");
  EXPECT_EQ(DisplayName("Robert", "James", "O'Brien"), "Robert James O'Brien");
  EXPECT_EQ(DisplayName("", "", "Lee"), " Lee");
  EXPECT_EQ(DisplayName("", "", ""), "");
  EXPECT_EQ(DisplayName("Ann", "", ""), "Ann");
  EXPECT_EQ(DisplayName(" Ann ", "", ""), " Ann ");  // nothing is trimmed
}

TEST(TrimBlanks, TakesSpacesTabsAndLineBreaksFromBothEndsOnly) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},           {" \t\r\n", ""},       {"a", "a"},
      {" a b ", "a b"},   {"\r\n a\tb \r\n", "a\tb"}, {"\xC2\xA0" "a", "\xC2\xA0" "a"},  // only ASCII blanks
      {std::string_view("\0 ", 2), std::string_view("\0", 1)},
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(TrimBlanks(text), trimmed) << text;
}

}  // namespace
