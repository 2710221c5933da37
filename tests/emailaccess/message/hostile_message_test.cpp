// Hostile mail through the mail-access program's reading, in process: what
// comes out is always UTF-8 text that LvMAPI can store, whatever came in.
// NUL bytes and bytes no charset explains become U+FFFD, a huge body is
// kept whole, a tree of thousands of parts or nested thousands deep gives
// the first text part within reach (a million parts are not all built), and
// a body that holds the exchange
// file's tags stays one record.

#include "email_test_support.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/message/text_encoding.h"
#include "exchange/incoming.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using emailaccess::ReadIncomingMessage;
using testing_support::Visible;

constexpr const char kOwn[] = "lvmapi@localhost";
constexpr const char kReplacement[] = "\xEF\xBF\xBD";

std::string Message(const std::string& headers, const std::string& body) {
  return "From: Ann Lee <ann.lee@example.org>\r\nSubject: Re: Corvane Survey\r\n"
         "Date: Tue, 01 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n" +
         headers + "\r\n" + body;
}

TEST(HostileMessage, NulBytesBecomeReplacementCharactersWhereverTheyComeFrom) {
  struct Case {
    const char* what;
    std::string raw;
  };
  const Case cases[] = {
      {"8bit", Message("Content-Type: text/plain; charset=utf-8\r\n", "<answer1>ja\0nein</answer1>\r\n"s)},
      {"base64", Message("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
                         "PGFuc3dlcjE+amEAbmVpbjwvYW5zd2VyMT4NCg==\r\n")},
      {"quoted-printable", Message("Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n",
                                   "<answer1>ja=00nein</answer1>\r\n")},
      {"html", Message("Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
                       "PHA+Jmx0O2Fuc3dlcjEmZ3Q7amEAbmVpbiZsdDsvYW5zd2VyMSZndDs8L3A+\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto message = ReadIncomingMessage(c.raw, kOwn);
    ASSERT_TRUE(message.parsed);
    EXPECT_EQ(message.body.find('\0'), std::string::npos) << Visible(message.body);
    EXPECT_TRUE(emailaccess::IsValidUtf8(message.body));
    EXPECT_NE(message.body.find("<answer1>ja"), std::string::npos) << Visible(message.body);
  }
  // Where the byte stood is marked, and nothing around it is lost.
  EXPECT_EQ(ReadIncomingMessage(cases[0].raw, kOwn).body, "<answer1>ja"s + kReplacement + "nein</answer1>\r\n");
  EXPECT_EQ(ReadIncomingMessage(cases[1].raw, kOwn).body, "<answer1>ja"s + kReplacement + "nein</answer1>\r\n");
}

TEST(HostileMessage, BrokenAndMixedCharsetsComeOutAsUtf8) {
  struct Case {
    const char* what;
    std::string headers, body, expected;
  };
  const Case cases[] = {
      {"UTF-8 declared, Latin-1 typed", "Content-Type: text/plain; charset=utf-8\r\n", "caf\xE9 \xC3\xA9t\xC3\xA9",
       "caf"s + kReplacement + " \xC3\xA9t\xC3\xA9"},
      {"an unknown charset", "Content-Type: text/plain; charset=x-no-such-charset\r\n", "Gr\xFC\xDF" "e",
       "Gr\xC3\xBC\xC3\x9F" "e"},
      {"UTF-16 without a byte order mark", "Content-Type: text/plain; charset=utf-16le\r\n", "h\0i\0"s, "hi"},
      {"a cut multibyte sequence at the end (one mark per byte)", "Content-Type: text/plain; charset=utf-8\r\n",
       "ok \xE2\x82", "ok "s + kReplacement + kReplacement},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto message = ReadIncomingMessage(Message(c.headers, c.body), kOwn);
    ASSERT_TRUE(message.parsed);
    EXPECT_EQ(message.body, c.expected) << Visible(message.body);
  }

  // A subject in two charsets, one raw 8-bit byte and a broken encoded word.
  const auto mixed = ReadIncomingMessage(
      "From: x@example.org\r\nSubject: =?iso-8859-2?Q?Odpov=ECd:?= Corvane Survey =?utf-8?B?w7xiZXI=?= \xFC "
      "=?utf-8?Q?broken=C3?=\r\n\r\nbody\r\n",
      kOwn);
  ASSERT_TRUE(mixed.parsed);
  EXPECT_TRUE(emailaccess::IsValidUtf8(mixed.subject)) << Visible(mixed.subject);
  EXPECT_NE(mixed.subject.find("Odpov\xC4\x9B" "d: Corvane Survey \xC3\xBC" "ber"), std::string::npos)
      << Visible(mixed.subject);
  EXPECT_TRUE(emailaccess::ContainsIgnoringCase(mixed.subject, "corvane survey"));
}

TEST(HostileMessage, RawEightBitBytesInARobotsHeaderAreReportedAsUtf8) {
  const auto message =
      ReadIncomingMessage("From: x@example.org\r\nAuto-Submitted: auto-r\xE9pondu \xF6\xBC\x90\x98\r\n\r\nbody\r\n", kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_TRUE(emailaccess::IsValidUtf8(message.automaticReason)) << Visible(message.automaticReason);
  EXPECT_EQ(message.automaticReason.rfind("Auto-Submitted: auto-r", 0), 0u) << message.automaticReason;
}

TEST(HostileMessage, ATwentyMegabyteBodyIsKeptWhole) {
  std::string body;
  const std::string line = std::string(76, 'x') + "\r\n";
  while (body.size() < 20u * 1024 * 1024) body += line;
  body = "<answer1>first</answer1>\r\n" + body + "<answer2>last</answer2>\r\n";
  const auto message = ReadIncomingMessage(Message("Content-Type: text/plain; charset=utf-8\r\n", body), kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(message.body.size(), body.size());
  EXPECT_TRUE(message.body == body);  // not EXPECT_EQ: a failure would print 20 MB
  EXPECT_FALSE(message.partsCut);
}

TEST(HostileMessage, ThousandsOfPartsGiveTheFirstTextPart) {
  std::string body = "--b\r\nContent-Type: image/png; name=\"a.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                     "iVBORw0KGgo=\r\n--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n<answer1>yes</answer1>\r\n";
  for (int i = 0; i < 5000; ++i) {
    body += "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"p" + std::to_string(i) +
            ".txt\"\r\n\r\n<answer1>no</answer1>\r\n";
  }
  body += "--b--\r\n";
  const auto message = ReadIncomingMessage(Message("Content-Type: multipart/mixed; boundary=\"b\"\r\n", body), kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(message.body, "<answer1>yes</answer1>");  // the break before a boundary is the boundary's
  EXPECT_FALSE(message.partsCut);
}

TEST(HostileMessage, AMillionEmptyPartsAreNotAllBuilt) {
  // Seven megabytes of empty parts would take gigabytes as GMime objects;
  // only the start is read, where the reply's text is.
  std::string body = "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n<answer1>yes</answer1>\r\n";
  body.reserve(body.size() + 7u * 1000000 + 16);
  for (int i = 0; i < 1000000; ++i) body += "--b\r\n\r\n";
  body += "--b--\r\n";
  const auto message = ReadIncomingMessage(Message("Content-Type: multipart/mixed; boundary=\"b\"\r\n", body), kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_TRUE(message.partsCut);
  EXPECT_EQ(message.body, "<answer1>yes</answer1>");
  EXPECT_EQ(message.senderAddress, "ann.lee@example.org");
}

// `depth` multiparts, each holding the next, with `text` at the bottom.
std::string Nested(int depth, const std::string& top, const std::string& bottom) {
  std::string body;
  for (int i = 0; i < depth; ++i) {
    const std::string b = "d" + std::to_string(i);
    if (i > 0) body += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n";
    body += "--" + b + "\r\n";
    if (i == 0 && !top.empty()) body += "Content-Type: text/plain\r\n\r\n" + top + "\r\n--" + b + "\r\n";
  }
  body += "Content-Type: text/plain\r\n\r\n" + bottom + "\r\n";
  for (int i = depth - 1; i >= 0; --i) body += "--d" + std::to_string(i) + "--\r\n";
  return Message("Content-Type: multipart/mixed; boundary=\"d0\"\r\n", body);
}

TEST(HostileMessage, DeepNestingIsReadToABoundedDepth) {
  // Text near the top is found however deep the rest goes.
  auto message = ReadIncomingMessage(Nested(3000, "<answer1>top</answer1>", "<answer1>bottom</answer1>"), kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(message.body, "<answer1>top</answer1>");

  // Text within a few dozen levels is found; text a thousand levels down is
  // out of reach, and the message reads as one without text (never a crash).
  message = ReadIncomingMessage(Nested(20, "", "<answer1>shallow</answer1>"), kOwn);
  EXPECT_EQ(message.body, "<answer1>shallow</answer1>");
  message = ReadIncomingMessage(Nested(1000, "", "<answer1>bottom</answer1>"), kOwn);
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(message.body.find("bottom"), std::string::npos) << Visible(message.body.substr(0, 200));
}

TEST(HostileMessage, ABodyHoldingExchangeTagsStaysOneRecordForLvMAPI) {
  const std::string bodies[] = {
      "<answer1>a</answer1></Body1><Originator2>mallory@example.org</Originator2><Date2>x</Date2><Body2>forged",
      "</Body1>\r\n<Originator2>m@example.org</Originator2>\r\n<Date2>2026-01-01 00:00:00</Date2>\r\n<Body2>f</Body2>",
      "<Body1><Body1></Body1></Body1><Originator1>m@example.org</Originator1><Date1>now</Date1>",
      "<<Body2>>< /Body1></Body></Originator><Date10></Date10>",
  };
  for (const std::string& text : bodies) {
    SCOPED_TRACE(text);
    const auto message =
        ReadIncomingMessage(Message("Content-Type: text/plain; charset=utf-8\r\n", text + "\r\n"), kOwn);
    const std::string file = exchange::FormatIncomingExchange({{message.senderAddress, "2026-12-01 10:00:00",
                                                                   message.body}});
    std::string originator, date, body;
    ASSERT_TRUE(exchange::GetNumberedTagValue(file, "Originator", 1, originator));
    ASSERT_TRUE(exchange::GetNumberedTagValue(file, "Date", 1, date));
    ASSERT_TRUE(exchange::GetNumberedTagValue(file, "Body", 1, body));
    EXPECT_EQ(originator, "ann.lee@example.org");
    EXPECT_EQ(date, "2026-12-01 10:00:00");
    EXPECT_FALSE(exchange::GetNumberedTagValue(file, "Originator", 2, originator)) << Visible(file);
    std::string expected = message.body;
    EXPECT_GT(exchange::NeutraliseExchangeTags(expected), 0u);
    EXPECT_EQ(body, expected);
  }
}

}  // namespace
