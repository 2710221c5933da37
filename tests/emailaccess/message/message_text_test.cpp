// From raw mail to subject, sender, date, robot or person, and best text.

#include "email_test_support.h"
#include "emailaccess/message/html_text.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/message/text_encoding.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::HtmlToText;
using emailaccess::ReadIncomingMessage;
using testing_support::Visible;

constexpr const char kOwn[] = "lvmapi@localhost";

std::string Mail(const std::string& headers, const std::string& body = "hello\n") {
  return headers + "MIME-Version: 1.0\n\n" + body;
}

struct RobotCase {
  const char* what;
  std::string raw;
  bool automatic;
};

void PrintTo(const RobotCase& c, std::ostream* os) { *os << c.what; }

class AutomaticMailTest : public ::testing::TestWithParam<RobotCase> {};

TEST_P(AutomaticMailTest, IsToldFromAPersonsReply) {
  const RobotCase& c = GetParam();
  auto message = ReadIncomingMessage(c.raw, kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(!message.automaticReason.empty(), c.automatic) << c.what << ": " << message.automaticReason;
}

const std::string kPerson = "From: Ann <ann@example.org>\nSubject: Re: Corvane Survey\n";

INSTANTIATE_TEST_SUITE_P(
    Headers, AutomaticMailTest,
    ::testing::Values(RobotCase{"plain reply", Mail(kPerson), false},
                      RobotCase{"Auto-Submitted no", Mail(kPerson + "Auto-Submitted: no\n"), false},
                      RobotCase{"Auto-Submitted No with comment", Mail(kPerson + "Auto-Submitted: No (typed)\n"), false},
                      RobotCase{"auto-replied", Mail(kPerson + "Auto-Submitted: auto-replied\n"), true},
                      RobotCase{"auto-generated", Mail(kPerson + "Auto-Submitted: auto-generated\n"), true},
                      RobotCase{"X-Autoreply", Mail(kPerson + "X-Autoreply: yes\n"), true},
                      RobotCase{"X-Autorespond", Mail(kPerson + "X-Autorespond: Out of office\n"), true},
                      RobotCase{"Precedence bulk", Mail(kPerson + "Precedence: bulk\n"), true},
                      RobotCase{"Precedence junk", Mail(kPerson + "Precedence: Junk\n"), true},
                      RobotCase{"Precedence list", Mail(kPerson + "Precedence: list\n"), true},
                      RobotCase{"Precedence auto_reply", Mail(kPerson + "Precedence: auto_reply\n"), true},
                      RobotCase{"Precedence first-class", Mail(kPerson + "Precedence: first-class\n"), false},
                      RobotCase{"delivery report",
                                Mail(kPerson + "Content-Type: multipart/report; report-type=delivery-status; boundary=b\n",
                                     "--b\nContent-Type: text/plain\n\nfailed\n--b--\n"),
                                true},
                      RobotCase{"MAILER-DAEMON", Mail("From: MAILER-DAEMON@mx.example.org\nSubject: Re: Corvane Survey\n"), true},
                      RobotCase{"postmaster", Mail("From: Postmaster <postmaster@example.org>\nSubject: x\n"), true},
                      RobotCase{"our own message", Mail("From: LvMAPI <LVMAPI@localhost>\nSubject: Corvane Survey\n"), true},
                      RobotCase{"empty return path", Mail("Return-Path: <>\n" + kPerson), true}));

// The writer is From alone, and it counts only as one plain address that no
// byte cut short.
TEST(IncomingMessage, TheSenderIsFromAloneAndOnlyOnePlainAddressCounts) {
  struct Case {
    std::string fields;
    const char* sender;
    bool one;
  };
  const Case cases[] = {
      {"From: Ann Lee <ann@example.org>\nSender: s@example.org\n", "ann@example.org", true},
      {"Sender: s@example.org\nReply-To: r@example.org\nSubject: x\n", "", false},
      {"From: undisclosed-recipients:;\nReply-To: pastor.john@example.org\n", "", false},
      {"From: Team: t@example.org, u@example.org;\n", "t@example.org", false},
      {"From: a@example.org, b@example.org\n", "a@example.org", false},
      {"From: a@example.org\nFrom: b@example.org\n", "a@example.org", false},
      {std::string("From: david.k\0@example.org\n", 27), "david.k\xEF\xBF\xBD@example.org", false},
      {"Subject: x\n", "", false},
  };
  for (const Case& c : cases) {
    const auto message = ReadIncomingMessage(Mail(c.fields), kOwn);
    EXPECT_EQ(message.senderIsOneAddress, c.one) << Visible(c.fields);
    EXPECT_EQ(message.senderAddress, c.sender) << Visible(c.fields);
  }
}

TEST(IncomingMessage, RawEightBitHeadersAreUtf8ElseWindows1252) {
  auto utf8 = ReadIncomingMessage(Mail("From: a@example.org\nSubject: AW: Umfrage f\xC3\xBCr Corvane\n"), kOwn);
  EXPECT_EQ(utf8.subject, "AW: Umfrage f\u00fcr Corvane");
  auto cp1252 = ReadIncomingMessage(Mail("From: a@example.org\nSubject: AW: Umfrage f\xFCr Corvane \x96 Fr\xFChling\n"), kOwn);
  EXPECT_EQ(cp1252.subject, "AW: Umfrage f\u00fcr Corvane \u2013 Fr\u00fchling");
}

TEST(IncomingMessage, MissingOrBrokenDateIsReportedAsMissing) {
  emailaccess_test::ScopedTimeZone utc("UTC");
  EXPECT_FALSE(ReadIncomingMessage(Mail("From: a@example.org\n"), kOwn).hasDate);
  EXPECT_FALSE(ReadIncomingMessage(Mail("From: a@example.org\nDate: tomorrow-ish\n"), kOwn).hasDate);
  auto dated = ReadIncomingMessage(Mail("From: a@example.org\nDate: Wed, 31 Dec 2025 23:30:00 -0100\n"), kOwn);
  EXPECT_TRUE(dated.hasDate);
  EXPECT_EQ(dated.localDate, "2026-01-01 00:30:00");
}

struct BodyCase {
  const char* what;
  std::string raw;
  std::string body;
};

void PrintTo(const BodyCase& c, std::ostream* os) { *os << c.what; }

class BestTextTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(BestTextTest, PicksAndDecodesTheRightPart) {
  const BodyCase& c = GetParam();
  EXPECT_EQ(Visible(ReadIncomingMessage(c.raw, kOwn).body), Visible(c.body)) << c.what;
}

const std::string kMixed = "From: a@example.org\nContent-Type: multipart/mixed; boundary=m\n";

INSTANTIATE_TEST_SUITE_P(
    Parts, BestTextTest,
    ::testing::Values(
        BodyCase{"text attachment before the text",
                 Mail(kMixed,
                      "--m\nContent-Type: text/plain\nContent-Disposition: attachment; filename=a.txt\n\nfile\n"
                      "--m\nContent-Type: text/plain\n\nthe text\n--m--\n"),
                 "the text"},
        BodyCase{"named part without disposition is a file",
                 Mail(kMixed, "--m\nContent-Type: text/plain; name=x.txt\n\nfile\n--m\nContent-Type: text/html\n\n<p>html</p>\n--m--\n"),
                 "html"},
        BodyCase{"attached message is not descended",
                 Mail(kMixed,
                      "--m\nContent-Type: message/rfc822\n\nFrom: x@example.org\n\ninner text\n"
                      "--m\nContent-Type: text/html\n\n<b>outer</b>\n--m--\n"),
                 "outer"},
        BodyCase{"no text at all", Mail(kMixed, "--m\nContent-Type: image/png\n\nPNG\n--m--\n"), ""},
        BodyCase{"ISO-8859-1 label on valid UTF-8", Mail("Content-Type: text/plain; charset=iso-8859-1\n", "f\xC3\xBCr\n"),
                 "f\u00fcr\r\n"},
        BodyCase{"ISO-8859-1 label on Windows-1252", Mail("Content-Type: text/plain; charset=ISO-8859-1\n", "\x93" "a\x94\n"),
                 "\u201ca\u201d\r\n"},
        BodyCase{"no charset, Windows-1252 bytes", Mail("Content-Type: text/plain\n", "caf\xE9\n"), "caf\u00e9\r\n"},
        BodyCase{"US-ASCII label on UTF-8", Mail("Content-Type: text/plain; charset=us-ascii\n", "\xE2\x82\xAC 5\n"),
                 "\u20ac 5\r\n"},
        BodyCase{"KOI8-R converted", Mail("Content-Type: text/plain; charset=koi8-r\n", "\xF0\xD2\xC9\xD7\xC5\xD4\n"),
                 "\u041f\u0440\u0438\u0432\u0435\u0442\r\n"},
        BodyCase{"unknown charset, UTF-8 bytes", Mail("Content-Type: text/plain; charset=x-nonsense\n", "\xC3\xA9t\xC3\xA9\n"),
                 "\u00e9t\u00e9\r\n"},
        BodyCase{"UTF-8 label with a broken byte", Mail("Content-Type: text/plain; charset=utf-8\n", "a\xFF" "b\n"),
                 "a\ufffdb\r\n"},
        BodyCase{"HTML without charset uses its meta",
                 Mail("Content-Type: text/html\n", "<meta charset=\"windows-1252\"><p>Gr\xFC\xDF" "e</p>\n"),
                 "Gr\u00fc\u00dfe"},
        BodyCase{"format=flowed with delsp",
                 Mail("Content-Type: text/plain; format=flowed; delsp=yes\n", "long wo \nrd and more\n"),
                 "long word and more\r\n"}));

// Parts are decoded where they lie in the message, whatever their
// transfer encoding.
INSTANTIATE_TEST_SUITE_P(
    Encodings, BestTextTest,
    ::testing::Values(
        BodyCase{"base64, the whole message",
                 Mail("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n", "R3LDvMOfZQ==\n"),
                 "Gr\u00fc\u00dfe"},
        BodyCase{"base64 in a multipart, split over lines",
                 Mail(kMixed, "--m\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
                              "R3LDvMOf\nZSBhdXMgQmVybGlu\n--m--\n"),
                 "Gr\u00fc\u00dfe aus Berlin"},
        BodyCase{"quoted-printable with a soft break",
                 Mail("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n",
                      "Saturday =\nmornings =3D best =E2=80=94 yes\n"),
                 "Saturday mornings = best \u2014 yes\r\n"},
        BodyCase{"binary as it is",
                 Mail("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: binary\n", "as =3D is\n"),
                 "as =3D is\r\n"}));

// A text and its HTML alternative, the text with the line breaks given.
std::string Alternative(const std::string& text, const std::string& html) {
  return Mail("From: a@example.org\nContent-Type: multipart/alternative; boundary=x\n",
              "--x\nContent-Type: text/plain; charset=utf-8\n\n" + text +
                  "\n--x\nContent-Type: text/html; charset=utf-8\n\n<p>" + html + "</p>\n--x--\n");
}

const std::string k60(60, 'w');                  // a word of 60 columns
const std::string kUmlauts60 = [] {              // 60 columns in 120 bytes
  std::string s;
  for (int i = 0; i < 60; ++i) s += "\xC3\xA4";
  return s;
}();

// The HTML is read for the wrapped-lines check only where a mail program
// wrapping at 64 columns or more could have broken the line.
INSTANTIATE_TEST_SUITE_P(
    WrapWidth, BestTextTest,
    ::testing::Values(
        BodyCase{"wrapped at 76: rejoined",
                 Alternative("Saturday mornings work best for our family, after ten, and we could bring\nfriends",
                             "Saturday mornings work best for our family, after ten, and we could bring friends"),
                 "Saturday mornings work best for our family, after ten, and we could bring friends"},
        BodyCase{"quoted and wrapped: rejoined at its depth",
                 Alternative("> " + k60 + " abc\n> def", k60 + " abc def"), "> " + k60 + " abc def"},
        BodyCase{"a short line: no mail program broke it",
                 Alternative("could be\nhappier!", "could be happier!"), "could be\r\nhappier!"},
        BodyCase{"64 columns with the next word: too short",
                 Alternative(k60 + "\nabc", k60 + " abc"), k60 + "\r\nabc"},
        BodyCase{"65 columns with the next word: rejoined",
                 Alternative(k60 + "\nabcd", k60 + " abcd"), k60 + " abcd"},
        BodyCase{"columns are characters, not bytes",
                 Alternative(kUmlauts60 + "\nabc", kUmlauts60 + " abc"), kUmlauts60 + "\r\nabc"},
        BodyCase{"a change of quote depth is no wrap",
                 Alternative("> " + k60 + " abc\ndef", k60 + " abc def"), "> " + k60 + " abc\r\ndef"}));

TEST(HtmlToText, RendersWhatAPersonSaw) {
  const std::pair<const char*, const char*> cases[] = {
      {"<p>&lt;answer1&gt;yes&lt;/answer1&gt;</p>", "<answer1>yes</answer1>"},
      {"a<br>b<br/>c", "a\nb\nc"},
      {"<div>one</div><div>two</div>", "one\ntwo"},
      {"<p>x</p><p>y</p>", "x\ny"},
      {"<p>a\n   b\t\tc</p>", "a b c"},
      {"a&nbsp;&nbsp;b", "a  b"},
      {"<style>p{color:red}</style><script>var a='<p>';</script>text", "text"},
      {"<head><title>T</title></head><body>body</body>", "body"},
      {"<pre>a  b\n  c</pre>", "a  b\n  c"},
      {"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", "1 2\n3"},
      {"x<br><br><br><br>y", "x\n\ny"},
      {"<p>unclosed <b>bold", "unclosed bold"},
      {"&amp;lt;kept literally&amp;gt;", "&lt;kept literally&gt;"},
      {"", ""},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(Visible(HtmlToText(html)), Visible(text)) << html;
}

TEST(HtmlToText, AMetaCharsetCannotOverrideTheUtf8GivenToIt) {
  EXPECT_EQ(HtmlToText("<meta charset=\"iso-8859-1\"><p>\xC3\xBC</p>"), "\u00fc");
}

// Every text handed on is UTF-8 whose line breaks are all CR LF.
bool IsCleanText(const std::string& text) {
  if (!emailaccess::IsValidUtf8(text)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

// Untrusted input: whatever arrives, the reader returns clean text.
TEST(IncomingMessage, MalformedInputIsReadWithoutHarm) {
  const std::string inputs[] = {
      "Content-Type: text/plain; charset=koi8-r\n\nbare\rcarriage\r\r\nreturns\xFF\n",
      "Subject: \xFF\xFE\n\nx",
      "",
      std::string("\0\0\0\xFF\xFE", 5),
      "From: a@example.org\nContent-Type: multipart/alternative; boundary=x\n\n--x\nContent-Type: text/plain\n\ncut off",
      "Content-Type: text/plain; charset=\"\nContent-Transfer-Encoding: base64\n\n!!!not base64!!!\n",
      "Subject: =?UTF-8?B?broken?= =?x?Q?=ZZ?=\n\n",
      std::string(100000, '<'),
  };
  for (const std::string& raw : inputs) {
    auto message = ReadIncomingMessage(raw, kOwn);
    EXPECT_TRUE(IsCleanText(message.body)) << Visible(message.body.substr(0, 80));
    EXPECT_TRUE(emailaccess::IsValidUtf8(message.subject)) << message.subject;
  }
}

}  // namespace

namespace header_fields {

using emailaccess::HeaderFields;
using emailaccess::WithoutUnreadHeaders;

struct HeaderCase {
  const char* what;
  std::string raw;
  std::string handedOn;  // what GMime is given; empty: the message as it came
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.what; }

class UnreadHeadersTest : public ::testing::TestWithParam<HeaderCase> {};

// What GMime is given, and that everything read from it is what reading
// every field gives.
TEST_P(UnreadHeadersTest, AreLeftOutOnlyWhereNothingReadChanges) {
  const HeaderCase& c = GetParam();
  std::string storage;
  EXPECT_EQ(Visible(std::string(WithoutUnreadHeaders(c.raw, storage))), Visible(c.handedOn.empty() ? c.raw : c.handedOn));
  const auto read = ReadIncomingMessage(c.raw, kOwn);
  const auto all = ReadIncomingMessage(c.raw, kOwn, HeaderFields::All);
  EXPECT_EQ(read.parsed, all.parsed);
  EXPECT_EQ(read.subject, all.subject);
  EXPECT_EQ(read.senderAddress, all.senderAddress);
  EXPECT_EQ(read.automaticReason, all.automaticReason);
  EXPECT_EQ(read.hasDate, all.hasDate);
  EXPECT_EQ(read.localDate, all.localDate);
  EXPECT_EQ(Visible(read.body), Visible(all.body));
}

const std::string kBody = "\r\n<answer1>Yes</answer1>\r\n";

INSTANTIATE_TEST_SUITE_P(
    Mail, UnreadHeadersTest,
    ::testing::Values(
        HeaderCase{"trace, routing and threading fields go; the read ones stay in order",
                   "Received: from a by b;\r\n\tMon, 2 Mar 2026 10:00:00 +0000\r\nFrom: Ann <ann@example.org>\r\n"
                   "To: office@example.org\r\nSubject: Re: Corvane Survey\r\nMessage-ID: <1@example.org>\r\n"
                   "DKIM-Signature: v=1; a=rsa-sha256;\r\n b=abc\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n charset=utf-8\r\n" + kBody,
                   "From: Ann <ann@example.org>\r\nSubject: Re: Corvane Survey\r\n"
                   "Date: Mon, 2 Mar 2026 10:00:00 +0000\r\nContent-Type: text/plain;\r\n charset=utf-8\r\n" + kBody},
        HeaderCase{"robots' fields, any case, and LF line ends",
                   "FROM: out@example.org\nx-autoreply: yes\nReturn-Path: <>\nprecedence: bulk\n"
                   "AUTO-SUBMITTED: auto-replied\nX-Mailer: Robot 1\nSubject: Corvane Survey\n\nbody\n",
                   "FROM: out@example.org\nx-autoreply: yes\nReturn-Path: <>\nprecedence: bulk\n"
                   "AUTO-SUBMITTED: auto-replied\nSubject: Corvane Survey\n\nbody\n"},
        HeaderCase{"a multipart message keeps its Content fields; the parts' own fields are body",
                   "From: a@example.org\r\nSubject: Corvane Survey\r\nThread-Topic: x\r\n"
                   "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nX-Part: 1\r\n"
                   "Content-Type: text/plain\r\n\r\nplain\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--b--\r\n",
                   "From: a@example.org\r\nSubject: Corvane Survey\r\n"
                   "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nX-Part: 1\r\n"
                   "Content-Type: text/plain\r\n\r\nplain\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--b--\r\n"},
        HeaderCase{"a From that parses only in part, and Dates of which the last counts",
                   "From: Ann <ann@example.org>, <broken\r\nTo: b\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\n"
                   "Date: Tue, 3 Mar 2026 11:00:00 +0000\r\nSubject: s\r\n" + kBody,
                   "From: Ann <ann@example.org>, <broken\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\n"
                   "Date: Tue, 3 Mar 2026 11:00:00 +0000\r\nSubject: s\r\n" + kBody},
        HeaderCase{"a Reply-To only, and a broken last Date",
                   "Reply-To: ann@example.org\r\nTo: b\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\nDate: soon\r\n" + kBody,
                   "Reply-To: ann@example.org\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\nDate: soon\r\n" + kBody},
        HeaderCase{"a second From stays with the first",
                   "From: a@example.org\r\nTo: b@example.org\r\nFrom: c@example.org\r\nSubject: s\r\n" + kBody,
                   "From: a@example.org\r\nFrom: c@example.org\r\nSubject: s\r\n" + kBody},
        HeaderCase{"a body longer than copying it is worth", "From: a@example.org\r\nTo: b\r\nSubject: s\r\n\r\n" +
                                                                      std::string(8190, 'x') + "\r\n",
                   ""},
        HeaderCase{"a body just short enough", "From: a@example.org\r\nTo: b\r\nSubject: s\r\n\r\n" +
                                                 std::string(8188, 'x') + "\r\n",
                   "From: a@example.org\r\nSubject: s\r\n\r\n" + std::string(8188, 'x') + "\r\n"},
        HeaderCase{"nothing to leave out: the message itself", "From: a@example.org\r\nSubject: s\r\n" + kBody, ""},
        HeaderCase{"a blank before the colon", "From: a@example.org\r\nTo : b@example.org\r\nSubject: s\r\n" + kBody, ""},
        HeaderCase{"a line without a colon", "From: a@example.org\r\nTo b@example.org\r\nSubject: s\r\n" + kBody, ""},
        HeaderCase{"an mbox From line first", "From ann@example.org Mon Mar  2 10:00:00 2026\r\nTo: b\r\nSubject: s\r\n" + kBody,
                   ""},
        HeaderCase{"a folded line first", " To: b@example.org\r\nFrom: a@example.org\r\n" + kBody, ""},
        HeaderCase{"an 8-bit field name", "From: a@example.org\r\nT\xC3\xB6: b\r\nSubject: s\r\n" + kBody, ""},
        HeaderCase{"a NUL byte among the fields", std::string("From: a@example.org\r\nTo: b\0c\r\nSubject: s\r\n", 41) + kBody,
                   ""},
        HeaderCase{"no blank line before the end", "From: a@example.org\r\nTo: b@example.org\r\nSubject: s", ""},
        HeaderCase{"a lone CR line is no blank line", "From: a@example.org\r\nTo: b\r\n\r\r\nSubject: s\r\n" + kBody, ""}));

}  // namespace header_fields
