// The two exchange files as both programs write and read them: the bytes
// each writer gives, what each reader takes back, and the values that would
// open or close an element if they were written as they are.

#include "exchange/elements.h"
#include "exchange/incoming.h"
#include "exchange/outgoing.h"
#include "support/test_support.h"
#include "util/text_files.h"

#include <gtest/gtest.h>

namespace {

using namespace exchange;
using testing_support::Visible;

TEST(AppendElement, WritesOpeningTagValueAndClosingTag) {
  struct Case {
    const char* tag;
    const char* value;
    const char* expected;
  } cases[] = {
      {"Recipient1", "Ann Lee", "<Recipient1>Ann Lee</Recipient1>"},
      {"Email12", "", "<Email12></Email12>"},
      {"Body", "a < b & <answer1>  </answer1>\r\nnext", "<Body>a < b & <answer1>  </answer1>\r\nnext</Body>"},
  };
  for (const Case& c : cases) {
    std::string out = "before|";
    AppendElement(out, c.tag, c.value, kOutgoingNames);
    EXPECT_EQ(out, std::string("before|") + c.expected);
  }
}

// Each value as the outgoing writer puts it between its tags, and the reader
// gives it back unchanged: text that is no tag of the file stays byte for
// byte; a tag of the file gets one blank more after its "<".
TEST(OutgoingValues, CannotOpenOrCloseAnElementAndComeBackUnchanged) {
  const std::pair<std::string, std::string> cases[] = {
      {"Maria Elena Santos", "Maria Elena Santos"},
      {"a < b & c > d <answer1></answer1> <Status>", "a < b & c > d <answer1></answer1> <Status>"},
      {"<body> <Bodyx> <Body 1> <Email1 > <Originator1>", "<body> <Bodyx> <Body 1> <Email1 > <Originator1>"},
      {"<Email3>evil@attacker.example</Email3>", "< Email3>evil@attacker.example< /Email3>"},
      {"O'Brien <Body>", "O'Brien < Body>"},
      {"</Recipient1><Recipient9>", "< /Recipient1>< Recipient9>"},
      {"<Recipient> <Email007> </Body12>", "< Recipient> < Email007> < /Body12>"},
      {"< Body> <  /Email2>", "<  Body> <   /Email2>"},
      {"<<Body>>", "<< Body>>"},
      {"ends in <Body", "ends in <Body"},
      {"<", "<"},
      {"< ", "< "},
  };
  for (const auto& [value, written] : cases) {
    std::string element;
    AppendElement(element, "Body", value, kOutgoingNames);
    EXPECT_EQ(element, "<Body>" + written + "</Body>") << value;
    EXPECT_EQ(ReadValue(written, kOutgoingNames), value) << value;
  }
}

// An outgoing file exactly as LvMAPI writes it: elements with LF line ends,
// then the whole text through its normaliser.
std::string AsLvMAPIWritesIt(const std::vector<std::pair<std::string, std::string>>& recipients,
                             const std::string& body) {
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

// A file whose recipient elements do not make exactly one name and one
// address per number, 1 to n, is refused whole: sending part of it could
// send someone's message to an address meant for another.
TEST(OutgoingExchange, RecipientElementsThatDoNotPairUpAreRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email1><Recipient2>B</Recipient2>", "Recipient2 without Email2"},
      {"<Email1>a@x.org</Email1>", "Email1 without Recipient1"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email1><Recipient3>C</Recipient3><Email3>c@x.org</Email3>",
       "no recipient 2"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email1><Recipient1>B</Recipient1>", "Recipient1 twice"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email1><Email1>b@x.org</Email1>", "Email1 twice"},
      {"<Recipient1>A <Recipient1>B</Recipient1><Email1>a@x.org</Email1>", "<Recipient1> inside <Recipient1>"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email2></Email1>", "</Email2> inside <Email1>"},
      {"<Recipient1>A</Recipient1></Email1><Email1>a@x.org", "</Email1> closes no element"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org", "<Email1> is never closed"},
      {"<Recipient0>A</Recipient0><Email0>a@x.org</Email0>", "<Recipient0> is not numbered from 1"},
      {"<Recipient01>A</Recipient01><Email01>a@x.org</Email01>", "<Recipient01> is not numbered from 1"},
      {"<Recipient>A</Recipient><Email>a@x.org</Email>", "<Recipient> is not numbered from 1"},
      {"<Recipient1>A</Recipient1><Email1>a@x.org</Email1></Body>", "</Body> before the body"},
      {"<Mailing>survey 1</Mailing><Mailing>survey 2</Mailing>", "Mailing twice"},
      {"<Mailing1>survey 1</Mailing1>", "<Mailing1> is numbered"},
      {"<Mailing>survey 1", "<Mailing> is never closed"},
  };
  for (const auto& [head, why] : cases) {
    Outgoing out;
    std::string error;
    EXPECT_FALSE(ReadOutgoing(head + "<Body>b</Body>", out, error)) << head;
    EXPECT_EQ(error, "the recipient elements do not pair up: " + why) << head;
    EXPECT_TRUE(out.recipients.empty() && out.body.empty()) << head;
  }
}

TEST(OutgoingExchange, PairsInAnyOrderWithTextBetweenAreRead) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"<Email1>a@x.org</Email1><Recipient1>A</Recipient1>", {"A", "a@x.org"}},
      {"x <Recipient2>B</Recipient2> y\r\n<Email2>b@x.org</Email2><Email1>a@x.org</Email1><Recipient1>A</Recipient1>",
       {"A", "a@x.org", "B", "b@x.org"}},
      {"<Recipient1><b>A</b></Recipient1><Email1 >x</Email1 ><Email1>a@x.org</Email1>", {"<b>A</b>", "a@x.org"}},
  };
  for (const auto& [head, expected] : cases) {
    Outgoing out;
    std::string error;
    ASSERT_TRUE(ReadOutgoing(head + "<Body>b</Body>", out, error)) << head << ": " << error;
    std::vector<std::string> found;
    for (const Recipient& r : out.recipients) {
      found.push_back(r.name);
      found.push_back(r.address);
    }
    EXPECT_EQ(found, expected) << head;
  }
}

TEST(OutgoingExchange, TheBodyCannotAddRecipientsAndRunsToTheLastClosingTag) {
  Outgoing out;
  std::string error;
  ASSERT_TRUE(ReadOutgoing(
      AsLvMAPIWritesIt({{"A", "a@x.org"}}, "<Recipient2>B</Recipient2><Email2>b@x.org</Email2> and </Body> inside"), out,
      error));
  EXPECT_EQ(out.recipients.size(), 1u);
  EXPECT_EQ(out.body, "<Recipient2>B</Recipient2><Email2>b@x.org</Email2> and </Body> inside");
}

TEST(OutgoingExchange, AListOfThousandsIsReadWhole) {
  std::vector<std::pair<std::string, std::string>> people;
  for (int n = 1; n <= 5000; ++n) people.push_back({"Member " + std::to_string(n), "m" + std::to_string(n) + "@x.org"});
  Outgoing out;
  std::string error;
  ASSERT_TRUE(ReadOutgoing(AsLvMAPIWritesIt(people, "b"), out, error));
  ASSERT_EQ(out.recipients.size(), 5000u);
  EXPECT_EQ(out.recipients[4999].name, "Member 5000");
  EXPECT_EQ(out.recipients[4999].address, "m5000@x.org");
}

TEST(OutgoingExchange, TheMailingIsReadBackAsWrittenAndIsOptional) {
  const std::string mailings[] = {"", "survey {0B5F6A1E-7C3D-4E8F-9A0B-1C2D3E4F5A6B}", "goal <Mailing> x</Mailing>"};
  for (const std::string& mailing : mailings) {
    Outgoing out;
    std::string error;
    ASSERT_TRUE(ReadOutgoing(FormatOutgoing({{"A", "a@x.org"}}, "<Mailing>b</Mailing>", mailing), out, error)) << error;
    EXPECT_EQ(out.mailing, mailing);
    ASSERT_EQ(out.recipients.size(), 1u);
    EXPECT_EQ(out.body, "<Mailing>b</Mailing>");
  }
}

TEST(OutgoingExchange, EmptyDistributionListGivesNoRecipients) {
  Outgoing out;
  std::string error;
  ASSERT_TRUE(ReadOutgoing(AsLvMAPIWritesIt({}, "body"), out, error));
  EXPECT_TRUE(out.recipients.empty());
  EXPECT_EQ(out.body, "body");
}

TEST(OutgoingExchange, MissingBodyIsAClearError) {
  for (const char* text : {"", "<Recipient1>A</Recipient1><Email1>a@x.org</Email1>", "<Body>never closed",
                           "</Body> before <Body>"}) {
    Outgoing out;
    std::string error;
    EXPECT_FALSE(ReadOutgoing(text, out, error)) << text;
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

TEST(GetNumberedTagValue, FindsElementsByNameAndNumber) {
  const std::string text =
      "<Originator2>b@example.org</Originator2><Date2>d2</Date2><Body2>second</Body2>\r\n"
      "<Originator1>  a@example.org  </Originator1>\r\n<Date1>d1</Date1><Body1>first\r\n</Body1>"
      "<Originator4>x</Originator4><Date4>d4</Date4><Body4>fourth</Body4>"
      "<Body10>tenth</Body10>";
  struct Case {
    const char* tag;
    int number;
    bool found;
    const char* value;
  } cases[] = {
      {"Originator", 1, true, "a@example.org  "},  // leading blanks go, trailing stay
      {"Body", 1, true, "first\r\n"},
      {"Originator", 2, true, "b@example.org"},    // order in the file does not matter
      {"Date", 2, true, "d2"},
      {"Originator", 3, false, ""},                // the gap ends the list for the caller
      {"Body", 4, true, "fourth"},
      {"Body", 10, true, "tenth"},                 // <Body1> is no prefix trap for <Body10>
      {"body", 1, false, ""},                      // tags are case-sensitive
      {"Recipient", 1, false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "stale";
    EXPECT_EQ(GetNumberedTagValue(text, c.tag, c.number, value), c.found) << c.tag << c.number;
    EXPECT_EQ(value, c.value) << c.tag << c.number;
  }
}

TEST(GetNumberedTagValue, MissingClosingTagIsNotFound) {
  std::string value;
  EXPECT_FALSE(GetNumberedTagValue("<Date1>no end", "Date", 1, value));
  EXPECT_EQ(value, "");
}

}  // namespace
