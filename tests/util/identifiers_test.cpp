#include "util/identifiers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace {

TEST(NewGuidString, IsTheBracedUpperCaseRegistryForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string id = NewGuidString();
    ASSERT_EQ(id.size(), 38u) << id;
    EXPECT_EQ(id.front(), '{');
    EXPECT_EQ(id.back(), '}');
    for (size_t p : {9u, 14u, 19u, 24u}) EXPECT_EQ(id[p], '-') << id;
    for (size_t p = 1; p < 37; ++p) {
      if (p == 9 || p == 14 || p == 19 || p == 24) continue;
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(id[p])) && !std::islower(static_cast<unsigned char>(id[p])))
          << id;
    }
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(SameGuid, IgnoresBracesAndLetterCase) {
  const std::string upper = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";
  EXPECT_TRUE(SameGuid(upper, "6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2"));
  EXPECT_TRUE(SameGuid("6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}", "6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2"));
  EXPECT_TRUE(SameGuid(kSentinelGuid, "0facade0-dead-dead-dead-0fadedfaded0"));
  EXPECT_TRUE(SameGuid("", ""));
  EXPECT_TRUE(SameGuid("{}", ""));
}

TEST(SameGuid, TellsDifferentIdentifiersApart) {
  EXPECT_FALSE(SameGuid("{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}", "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B3}"));
  EXPECT_FALSE(SameGuid("ABC", "ABCD"));
  EXPECT_FALSE(SameGuid("{{ABC}}", "ABC"));  // only one brace is dropped at each end
  EXPECT_FALSE(SameGuid("", "A"));
}

struct ExtractCase {
  const char* text;
  bool found;
  const char* value;
};

TEST(ExtractBetween, TakesTheFirstOpeningAndFirstClosingTag) {
  const ExtractCase cases[] = {
      {"<a>x</a>", true, "x"},
      {"<a>first</a><a>second</a>", true, "first"},
      {"<a>   x  </a>", true, "x  "},                 // leading blanks only
      {"<a>\t x</a>", true, "\t x"},                  // a tab is not a blank
      {"<a>   </a>", true, ""},
      {"<a></a>", true, ""},
      {"<a>no close", false, ""},
      {"no open</a>", false, ""},
      {"", false, ""},
      {"</a>early <a>  rest", true, "rest"},         // closing tag before the opening tag
      {"<a>line\r\nbreak \r\n</a>", true, "line\r\nbreak \r\n"},
      {"<A>upper</A>", false, ""},                    // case-sensitive
  };
  for (const auto& c : cases) {
    std::string value = "stale";
    EXPECT_EQ(ExtractBetween(c.text, "<a>", "</a>", value), c.found) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(ExtractBetween, ClosingTagOverlappingTheOpeningTagRunsToTheEnd) {
  // "</a>" found inside "<</a>" before the opening tag has ended.
  std::string value;
  EXPECT_TRUE(ExtractBetween("x<</a>  tail", "<</a>", "</a>", value));
  EXPECT_EQ(value, "tail");
}

struct TypedCase {
  const char* text;
  const char* value;
};

TEST(ExtractTypedValue, AFirstPairOfBlanksGivesWayToTheNextPairThatHoldsSomething) {
  const TypedCase cases[] = {
      {"<a>x</a>", "x"},
      {"<a> top </a>\n> <a>  </a>", "top"},               // a filled first pair wins
      {"> <a>  </a>\n<a>true</a>", "true"},                // typed under the quoted form
      {"> <a> \t\r\n </a>\n> <a></a>\n<a> 3 </a>", "3"},   // blanks of every kind
      {"> <a>\xC2\xA0</a>\n<a>4</a>", "4"},                 // a non-breaking space is a blank too
      {"> <a>  </a>\n<a>  </a>", ""},                      // no pair holds anything
      {"<a>\t</a>", ""},
      {"> <a>  </a>\n<a>no close", ""},
      {"</a>early <a>  </a> <a>late</a>", "</a> <a>late</a>"},  // the first value runs to the end
      {"<A> </A><A>upper</A>", ""},                         // case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractTypedValue(c.text, "<a>", "</a>"), c.value) << c.text;
}

// The form's padding goes from both ends, whatever blank it is made of; what
// stands inside stays as typed. A lone 0xA0 byte ends a UTF-8 character
// ("\xC3\xA0" is a-grave) and is no blank.
TEST(ExtractTypedValue, LosesTheFormsPaddingAtBothEndsOnly) {
  const TypedCase cases[] = {
      {"<a> true </a>", "true"},
      {"<a>  b  </a>", "b"},
      {"<a>\tyes\t</a>", "yes"},
      {"<a>\xC2\xA0no\xC2\xA0\xC2\xA0</a>", "no"},
      {"<a>\r\n On track \r\n</a>", "On track"},
      {"<a> two\r\nlines </a>", "two\r\nlines"},
      {"<a> a \t b </a>", "a \t b"},
      {"<a> caf\xC3\xA0</a>", "caf\xC3\xA0"},
      {"<a>\xC2\xA0 \r\n\t</a><a> x\xC2\xA0</a>", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractTypedValue(c.text, "<a>", "</a>"), c.value) << c.text;
  EXPECT_EQ(ExtractFromTypedLines("<s>\t40 %\xC2\xA0</s>", "<s>", "</s>"), "40 %");
}

TEST(ExtractFromTypedLines, PassesOverQuotedLinesAndTheInstructionsExample) {
  const TypedCase cases[] = {
      {"<s> 30 </s>\n> <s> 25 </s>", "30"},
      {"> Place it between the <s> </s> fields.\n> Example:  <s> 25 </s>\n", ""},
      {"Place it between the <s> </s> fields.\r\nExample:  <s> 25 </s>\r\n", ""},  // quoted without marks
      {"Example:  <s> 25 </s>\nThanks\n  <s>40</s>", "40"},
      {"  >> <s>10</s>\n\t<s>20</s>", "20"},
      {"Done: <s>70</s> Example: <s>25</s>", "70"},  // "Example:" counts only at the line's start
      {"Example: <s>\n55</s>", ""},                 // the pair's line is where it opens
      {"no tags", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractFromTypedLines(c.text, "<s>", "</s>"), c.value) << c.text;
}

TEST(DoubleSingleQuotes, DoublesEveryQuote) {
  const std::pair<std::string, std::string> cases[] = {
      {"O'Brien", "O''Brien"}, {"none", "none"}, {"''", "''''"}, {"'", "''"}, {"a'b'c", "a''b''c"}, {"", ""}};
  for (const auto& [input, expected] : cases) {
    std::string text = input;
    DoubleSingleQuotes(text);
    EXPECT_EQ(text, expected) << input;
  }
}

TEST(LeadingInteger, ReadsLeadingDigitsLikeTheCLibrary) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"3", 3},   {"-2", -2},  {"  12abc", 12}, {"abc", 0},          {"", 0},
      {"+7", 7},  {"1.9", 1},  {"99999999999", INT32_MAX},            {"-99999999999", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(LeadingInteger(c.text), c.value) << c.text;
}

}  // namespace
