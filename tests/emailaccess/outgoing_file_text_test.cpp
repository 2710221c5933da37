// The outgoing exchange file's text as this program sends it, and the
// conversions that get it there.

#include "emailaccess/message/text_encoding.h"
#include "emailaccess/sending.h"
#include "support/test_support.h"
#include "util/text_files.h"

#include <gtest/gtest.h>

namespace {

using namespace emailaccess;
using testing_support::Visible;

TEST(CanonicalCrlf, EveryKindOfBreakBecomesOneCrlf) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\nb", "a\r\nb"},          {"a\r\nb", "a\r\nb"},       {"a\r\r\nb", "a\r\nb"},
      {"a\r\r\r\nb", "a\r\nb"},    {"a\rb", "a\r\nb"},         {"a\r\rb", "a\r\n\r\nb"},
      {"a\n\nb", "a\r\n\r\nb"},    {"\n", "\r\n"},             {"a\r", "a\r\n"},
      {"", ""},                    {"no breaks", "no breaks"},
      {"a\rb\r\r\nc\n", "a\r\nb\r\nc\r\n"},  {"a\r\r", "a\r\n\r\n"},  {"\r\n\r", "\r\n\r\n"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Visible(CanonicalCrlf(in)), Visible(out)) << Visible(in);
}

// What LvMAPI's writer makes of a text (CR LF -> CR CR LF, "\n\r" -> CR LF)
// comes back with one CR LF per line break the writer meant.
TEST(CanonicalCrlf, UndoesTheApplicationsNormaliser) {
  const std::pair<std::string, std::string> cases[] = {
      {"one\r\ntwo\r\n", "one\r\ntwo\r\n"},
      {"one\ntwo\n", "one\r\ntwo\r\n"},
      {"a\n\rb\n\r", "a\r\nb\r\n"},
      {"x\r\n\r\ny", "x\r\n\r\ny"},
  };
  for (const auto& [text, meant] : cases) {
    std::string written = text;
    NormalizeLineBreaks(written);
    EXPECT_EQ(Visible(CanonicalCrlf(written)), Visible(meant)) << Visible(text);
  }
}

TEST(SingleLine, EveryRunOfBreaksAndTabsIsOneBlank) {
  EXPECT_EQ(SingleLine("a\r\nb\nc\t\td\r\r\n\te"), "a b c d e");
  EXPECT_EQ(SingleLine("\nlead and trail\r"), " lead and trail ");
  EXPECT_EQ(SingleLine("plain"), "plain");
}

TEST(Windows1252, MapsTheWholeUpperHalf) {
  EXPECT_EQ(Windows1252ToUtf8("\x80\x85\x8A\x91\x92\x93\x94\x96\x97\x99\x9F"),
            "\u20ac\u2026\u0160\u2018\u2019\u201c\u201d\u2013\u2014\u2122\u0178");
  EXPECT_EQ(Windows1252ToUtf8("\xA0\xC4\xD6\xDC\xDF\xE9\xFF"), "\u00a0\u00c4\u00d6\u00dc\u00df\u00e9\u00ff");
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\ufffd\ufffd\ufffd\ufffd\ufffd");
  EXPECT_EQ(Windows1252ToUtf8("plain"), "plain");
}

TEST(Utf8OrWindows1252, ValidUtf8IsKeptEverythingElseConverted) {
  EXPECT_EQ(Utf8OrWindows1252("M\xC3\xBCller"), "M\u00fcller");
  EXPECT_EQ(Utf8OrWindows1252("M\xFCller"), "M\u00fcller");
  EXPECT_EQ(Utf8OrWindows1252("\xC3"), "\u00c3");  // a lone lead byte is not UTF-8
}

TEST(ContainsIgnoringCase, MatchesSubjectsAsPeopleWriteThem) {
  EXPECT_TRUE(ContainsIgnoringCase("Re: Corvane Survey - Spring", "Corvane Survey"));
  EXPECT_TRUE(ContainsIgnoringCase("AW: corvane survey", "Corvane Survey"));
  EXPECT_TRUE(ContainsIgnoringCase("WG: CORVANE STRATEGY - Ziel", "Corvane Strategy"));
  EXPECT_TRUE(ContainsIgnoringCase("Umfrage F\u00dcR alle", "f\u00fcr"));
  EXPECT_FALSE(ContainsIgnoringCase("Corvane Strategy", "Corvane Survey"));
  EXPECT_FALSE(ContainsIgnoringCase("Corvane-Survey", "Corvane Survey"));
  EXPECT_TRUE(ContainsIgnoringCase("anything", ""));
  // Texts end at a NUL byte, as they always did.
  EXPECT_TRUE(ContainsIgnoringCase(std::string("\0", 1), std::string("\0", 1)));
  EXPECT_TRUE(ContainsIgnoringCase(std::string("Corvane\0x", 9), std::string("corvane\0y", 9)));
  EXPECT_FALSE(ContainsIgnoringCase(std::string("Cor\0vane", 8), "corvane"));
}

// An outgoing file as LvMAPI writes it: the exchange text, then its line-break
// normaliser.
std::string AsLvMAPIWritesIt(const std::vector<exchange::Recipient>& recipients, const std::string& body) {
  std::string text = exchange::FormatOutgoing(recipients, body);
  NormalizeLineBreaks(text);
  return text;
}

TEST(OutgoingExchange, ReadsRecipientsAndTheCanonicalBody) {
  exchange::Outgoing out;
  std::string error;
  ASSERT_TRUE(ReadOutgoingExchange(
      AsLvMAPIWritesIt({{"J\xFCrgen M\xFCller", " jm@example.org "}, {"\xC3\x89lise", "elise@example.org"}, {"", "x@example.org"}},
                       "Hello\r\n<answer1></answer1>\r\n\r\n\x93Thanks\x94\n"),
      out, error));
  ASSERT_EQ(out.recipients.size(), 3u);
  EXPECT_EQ(out.recipients[0].name, "J\u00fcrgen M\u00fcller");
  EXPECT_EQ(out.recipients[0].address, "jm@example.org");
  EXPECT_EQ(out.recipients[1].name, "\u00c9lise");
  EXPECT_EQ(out.recipients[2].name, "");
  EXPECT_EQ(Visible(out.body), Visible("Hello\r\n<answer1></answer1>\r\n\r\n\u201cThanks\u201d\r\n"));
}

}  // namespace
