// The exchange files and the text conversions they rely on.

#include "emailaccess/message/exchange_files.h"
#include "emailaccess/message/text_encoding.h"
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

// An outgoing file exactly as LvMAPI writes it: elements with LF line ends,
// then the whole text through its normaliser.
std::string AsLvMAPIWritesIt(const std::vector<std::pair<std::string, std::string>>& recipients, const std::string& body) {
  std::string text;
  int n = 0;
  for (const auto& [name, email] : recipients) {
    const std::string i = std::to_string(++n);
    text += "<Recipient" + i + ">" + name + "</Recipient" + i + ">\n<Email" + i + ">" + email + "</Email" + i + ">\n";
  }
  text += "<Body>" + body + "</Body>";
  NormalizeLineBreaks(text);
  return text;
}

TEST(OutgoingExchange, ReadsRecipientsAndTheCanonicalBody) {
  OutgoingExchange out;
  std::string error;
  ASSERT_TRUE(ParseOutgoingExchange(
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

TEST(OutgoingExchange, NumberingStopsAtTheFirstGap) {
  OutgoingExchange out;
  std::string error;
  std::string text = "<Recipient1>A</Recipient1><Email1>a@x.org</Email1><Recipient2>B</Recipient2>"
                     "<Email3>c@x.org</Email3><Recipient3>C</Recipient3><Body>b</Body>";
  ASSERT_TRUE(ParseOutgoingExchange(text, out, error));
  EXPECT_EQ(out.recipients.size(), 1u);
}

TEST(OutgoingExchange, TheBodyCannotAddRecipientsAndRunsToTheLastClosingTag) {
  OutgoingExchange out;
  std::string error;
  ASSERT_TRUE(ParseOutgoingExchange(
      AsLvMAPIWritesIt({{"A", "a@x.org"}}, "<Recipient2>B</Recipient2><Email2>b@x.org</Email2> and </Body> inside"), out,
      error));
  EXPECT_EQ(out.recipients.size(), 1u);
  EXPECT_EQ(out.body, "<Recipient2>B</Recipient2><Email2>b@x.org</Email2> and </Body> inside");
}

// Each element is the first opening tag of its name and the first closing
// tag after it, wherever they stand, as LvMAPI's own reader finds them.
TEST(OutgoingExchange, TheFirstOpeningTagAndTheFirstClosingTagAfterItCount) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"</Recipient1><Recipient1>A</Recipient1><Email1>a@x.org</Email1><Recipient1>B</Recipient1>", {"A", "a@x.org"}},
      {"<Email1>a@x.org</Email1><Recipient1>A</Recipient1>", {"A", "a@x.org"}},
      {"<Recipient1>A <Recipient1>B</Recipient1><Email1>a@x.org</Email1>", {"A <Recipient1>B", "a@x.org"}},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email2></Email1>", {"A", "a@x.org</Email2>"}},
      {"<Recipient1>A</Recipient1></Email1><Email1>a@x.org", {}},
      {"<Recipient1>A</Recipient1><Email1 >a@x.org</Email1>", {}},
  };
  for (const auto& [head, expected] : cases) {
    OutgoingExchange out;
    std::string error;
    ASSERT_TRUE(ParseOutgoingExchange(head + "<Body>b</Body>", out, error)) << head;
    std::vector<std::string> found;
    for (const Recipient& r : out.recipients) {
      found.push_back(r.name);
      found.push_back(r.address);
    }
    EXPECT_EQ(found, expected) << head;
  }
}

TEST(OutgoingExchange, AListOfThousandsIsReadWhole) {
  std::vector<std::pair<std::string, std::string>> people;
  for (int n = 1; n <= 5000; ++n) people.push_back({"Member " + std::to_string(n), "m" + std::to_string(n) + "@x.org"});
  OutgoingExchange out;
  std::string error;
  ASSERT_TRUE(ParseOutgoingExchange(AsLvMAPIWritesIt(people, "b"), out, error));
  ASSERT_EQ(out.recipients.size(), 5000u);
  EXPECT_EQ(out.recipients[4999].name, "Member 5000");
  EXPECT_EQ(out.recipients[4999].address, "m5000@x.org");
}

TEST(OutgoingExchange, EmptyDistributionListGivesNoRecipients) {
  OutgoingExchange out;
  std::string error;
  ASSERT_TRUE(ParseOutgoingExchange(AsLvMAPIWritesIt({}, "body"), out, error));
  EXPECT_TRUE(out.recipients.empty());
  EXPECT_EQ(out.body, "body");
}

TEST(OutgoingExchange, MissingBodyIsAClearError) {
  for (const char* text : {"", "<Recipient1>A</Recipient1><Email1>a@x.org</Email1>", "<Body>never closed",
                           "</Body> before <Body>"}) {
    OutgoingExchange out;
    std::string error;
    EXPECT_FALSE(ParseOutgoingExchange(text, out, error)) << text;
    EXPECT_NE(error.find("<Body>"), std::string::npos);
  }
}

TEST(NeutraliseExchangeTags, BreaksOnlyTheIncomingFilesOwnTags) {
  const std::pair<std::string, std::string> cases[] = {
      {"<Body2>", "< Body2>"},
      {"</Body1>", "< /Body1>"},
      {"<Originator3>x</Originator3>", "< Originator3>x< /Originator3>"},
      {"<Date>", "< Date>"},
      {"<Body123456>", "< Body123456>"},
      {"<answer1></answer1>", "<answer1></answer1>"},
      {"<Status>ok</Status>", "<Status>ok</Status>"},
      {"<body> <Bodyx> <Body 1> <Body1 >", "<body> <Bodyx> <Body 1> <Body1 >"},
      {"<<Body1>>", "<< Body1>>"},
      {"a<Body1>b</Date2>c<Body3>", "a< Body1>b< /Date2>c< Body3>"},
      {"ends in <Body", "ends in <Body"},
      {"<", "<"},
      {"</", "</"},
      {"<Body", "<Body"},
  };
  for (const auto& [in, out] : cases) {
    std::string value = in;
    NeutraliseExchangeTags(value);
    EXPECT_EQ(value, out) << in;
  }
}

TEST(IncomingExchange, WritesNumberedElementsEachEndedByCrlf) {
  size_t broken = 0;
  EXPECT_EQ(FormatIncomingExchange({{"a@x.org", "2026-03-01 10:00:00", "hi\r\n"}, {"b@x.org", "2026-03-02 11:00:00", "</Body1>"}},
                                   &broken),
            "<Originator1>a@x.org</Originator1>\r\n<Date1>2026-03-01 10:00:00</Date1>\r\n<Body1>hi\r\n</Body1>\r\n"
            "<Originator2>b@x.org</Originator2>\r\n<Date2>2026-03-02 11:00:00</Date2>\r\n<Body2>< /Body1></Body2>\r\n");
  EXPECT_EQ(broken, 1u);
  EXPECT_EQ(FormatIncomingExchange({}), "");
}

}  // namespace
