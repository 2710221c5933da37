// Operations 1 and 2: one valid RFC 5322 message per recipient, that a mail
// parser reads back to the same recipient, subject and text.

#include "email_test_support.h"
#include "emailaccess/message/compose.h"
#include "emailaccess/message/gmime_support.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/sending.h"
#include "util/text_files.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using namespace emailaccess;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using testing_support::ReadFile;
using testing_support::Visible;

struct ParsedBack {
  std::string toName, toAddress, fromAddress, subject, body, contentType, encoding;
  std::map<std::string, std::string> headers;
  int recipients = 0;
};

ParsedBack ParseBack(const std::string& data) {
  EnsureGMime();
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(data.data(), data.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
  ParsedBack back;
  if (!message) return back;
  InternetAddressList* to = g_mime_message_get_to(message.get());
  GObjectPtr<InternetAddressList> all(g_mime_message_get_all_recipients(message.get()));
  back.recipients = internet_address_list_length(all.get());
  if (internet_address_list_length(to) > 0) {
    InternetAddress* address = internet_address_list_get_address(to, 0);
    back.toName = internet_address_get_name(address) ? internet_address_get_name(address) : "";
    back.toAddress = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  }
  back.fromAddress = internet_address_mailbox_get_addr(
      INTERNET_ADDRESS_MAILBOX(internet_address_list_get_address(g_mime_message_get_from(message.get()), 0)));
  back.subject = g_mime_message_get_subject(message.get());
  GMimeObject* part = g_mime_message_get_mime_part(message.get());
  GMimeContentType* contentType = g_mime_object_get_content_type(part);
  GCharPtr type(g_mime_content_type_get_mime_type(contentType));
  back.contentType = std::string(type.get()) + "; charset=" + g_mime_content_type_get_parameter(contentType, "charset");
  back.encoding = g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(GMIME_PART(part)));
  GObjectPtr<GMimeStream> sink(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(part)), sink.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
  back.body.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.get()));
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
    back.headers[g_mime_header_get_name(header)] = g_mime_header_get_value(header);
  }
  return back;
}

// RFC 5322 on the wire: 7-bit text, CR LF only, no line over 78 characters
// (the body is quoted-printable), a header block and a body.
void ExpectWellFormed(const std::string& data) {
  size_t lineStart = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    ASSERT_LT(c, 0x80) << "8-bit byte at " << i;
    ASSERT_NE(c, 0) << "NUL at " << i;
    if (c == '\r') {
      ASSERT_TRUE(i + 1 < data.size() && data[i + 1] == '\n') << "bare CR at " << i;
    }
    if (c == '\n') {
      ASSERT_TRUE(i > 0 && data[i - 1] == '\r') << "bare LF at " << i;
      ASSERT_LE(i - 1 - lineStart, 78u) << Visible(data.substr(lineStart, i - lineStart));
      lineStart = i + 1;
    }
  }
  ASSERT_NE(data.find("\r\n\r\n"), std::string::npos) << "no empty line between header and body";
}

constexpr const char kSubject[] = "Corvane Survey - Fr\u00fchjahrsumfrage 2026 f\u00fcr alle Gemeindemitglieder und Freunde";

class SendingTest : public ::testing::Test {
 protected:
  std::string WriteExchange(const std::string& text) {
    const std::string path = inst.File("out.tmp");
    EXPECT_TRUE(WriteTextFile(path, text));  // with LvMAPI's own normaliser
    return path;
  }
  SendOutcome Send(const std::string& path, const std::string& subject = kSubject) {
    return SendFromExchangeFile(transport, inst.log, Mailbox{"LvMAPI", "lvmapi@localhost"}, path, subject);
  }
  std::vector<std::string> Outbox() {
    std::vector<std::string> messages;
    for (const std::string& name : MaildirMessages(inst.config.maildir.outbox)) {
      messages.push_back(ReadFile(inst.config.maildir.outbox + "/new/" + name));
    }
    return messages;
  }

  Installation inst;
  MaildirTransport transport{inst.config.maildir};
};

TEST_F(SendingTest, RoundTripGivesEachRecipientTheirOwnWellFormedMessage) {
  const std::string longLine(200, 'x');
  const std::string body = "Sehr geehrte Damen und Herren,\r\n\x93" "Bitte\x94 antworten Sie \x96 danke!\r\n<answer1></answer1>\r\n" +
                           longLine + "\r\nFrom the start\r\n.\r\ntrailing blank \r\n";
  const std::string path = WriteExchange(
      "<Recipient1>J\xC3\xBCrgen M\xC3\xBCller-L\xC3\xBC" "denscheidt</Recipient1>\n<Email1>jm@example.org</Email1>\n"
      "<Recipient2>Fran\xE7oise d'Aubign\xE9</Recipient2>\n<Email2>fa@example.fr</Email2>\n"
      "<Recipient3></Recipient3>\n<Email3>bare@example.org</Email3>\n"
      "<Body>" + body + "</Body>");
  SendOutcome outcome = Send(path);
  EXPECT_EQ(outcome.sent, 3);
  EXPECT_EQ(outcome.failed, 0);

  const std::string canonicalBody =
      "Sehr geehrte Damen und Herren,\r\n\u201cBitte\u201d antworten Sie \u2013 danke!\r\n<answer1></answer1>\r\n" + longLine +
      "\r\nFrom the start\r\n.\r\ntrailing blank \r\n";
  std::map<std::string, std::string> names;
  for (const std::string& data : Outbox()) {
    SCOPED_TRACE(data.substr(0, 400));
    ExpectWellFormed(data);
    ParsedBack back = ParseBack(data);
    EXPECT_EQ(back.recipients, 1) << "no one sees the other recipients";
    names[back.toAddress] = back.toName;
    EXPECT_EQ(back.fromAddress, "lvmapi@localhost");
    EXPECT_EQ(back.subject, kSubject);
    EXPECT_EQ(Visible(back.body), Visible(canonicalBody));
    EXPECT_EQ(back.contentType, "text/plain; charset=utf-8");
    EXPECT_EQ(back.encoding, "quoted-printable");
    EXPECT_EQ(back.headers["MIME-Version"], "1.0");
    EXPECT_EQ(back.headers["Auto-Submitted"], "auto-generated");
    EXPECT_EQ(back.headers["X-Auto-Response-Suppress"], "OOF, AutoReply");
    EXPECT_TRUE(std::regex_match(back.headers["Message-ID"], std::regex("<[^@<> ]+@localhost>"))) << back.headers["Message-ID"];
    EXPECT_TRUE(std::regex_match(back.headers["Date"],
                                 std::regex("[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}")))
        << back.headers["Date"];
  }
  EXPECT_EQ(names, (std::map<std::string, std::string>{{"jm@example.org", "J\u00fcrgen M\u00fcller-L\u00fcdenscheidt"},
                                                       {"fa@example.fr", "Fran\u00e7oise d'Aubign\u00e9"},
                                                       {"bare@example.org", ""}}));
  EXPECT_TRUE(testing_support::ListFolder(inst.config.maildir.outbox + "/tmp").empty()) << "nothing half-written left";
  EXPECT_TRUE(testing_support::Exists(path)) << "the exchange file is LvMAPI's to delete";
}

TEST_F(SendingTest, InvalidAddressesAreSkippedAndTheOthersStillSent) {
  const std::string path = WriteExchange(
      "<Recipient1>No Mail</Recipient1>\n<Email1></Email1>\n"
      "<Recipient2>Typo</Recipient2>\n<Email2>typo.example.org</Email2>\n"
      "<Recipient3>Two</Recipient3>\n<Email3>a@b@example.org</Email3>\n"
      "<Recipient4>Good</Recipient4>\n<Email4>good@example.org</Email4>\n"
      "<Recipient5>Injected</Recipient5>\n<Email5>x@example.org\r\nBcc: all@example.org</Email5>\n"
      "<Body>text</Body>");
  SendOutcome outcome = Send(path);
  EXPECT_EQ(outcome.sent, 1);
  EXPECT_EQ(outcome.invalidRecipients, 4);
  ASSERT_EQ(Outbox().size(), 1u);
  EXPECT_EQ(ParseBack(Outbox()[0]).toAddress, "good@example.org");
  EXPECT_NE(inst.LogText().find("recipient skipped, not an e-mail address: \"Typo <typo.example.org>\""), std::string::npos);
}

// A subject comes from data people typed; a line break in it must not start
// a header of its own.
TEST_F(SendingTest, LineBreaksInTheSubjectCannotAddHeaders) {
  Send(WriteExchange("<Recipient1>A</Recipient1>\n<Email1>a@example.org</Email1>\n<Body>text</Body>"),
       "Corvane Survey - X\r\nBcc: all@example.org\nX-Evil: 1");
  ASSERT_EQ(Outbox().size(), 1u);
  ParsedBack back = ParseBack(Outbox()[0]);
  EXPECT_EQ(back.recipients, 1);
  EXPECT_EQ(back.headers.count("Bcc"), 0u);
  EXPECT_EQ(back.headers.count("X-Evil"), 0u);
  EXPECT_EQ(back.subject, "Corvane Survey - X Bcc: all@example.org X-Evil: 1");
}

TEST_F(SendingTest, UnreadableOrBodylessFileSendsNothing) {
  EXPECT_THROW(Send(inst.File("missing.tmp")), std::runtime_error);
  const std::string path = WriteExchange("<Recipient1>A</Recipient1>\n<Email1>a@example.org</Email1>\n");
  EXPECT_THROW(Send(path), std::runtime_error);
  EXPECT_TRUE(MaildirMessages(inst.config.maildir.outbox).empty());
}

TEST_F(SendingTest, EmptyDistributionListSendsNothingAndSaysSo) {
  SendOutcome outcome = Send(WriteExchange("<Body>text</Body>"));
  EXPECT_EQ(outcome.sent, 0);
  EXPECT_NE(inst.LogText().find("no recipients"), std::string::npos);
}

TEST(PlainAddress, AcceptsAddressesAndRefusesEverythingElse) {
  for (const char* good : {"a@example.org", "first.last+tag@sub.example.co.uk", "lvmapi@localhost", "o'brien@example.ie",
                           "m\u00fcller@b\u00fccher.de"}) {
    EXPECT_TRUE(IsPlainAddress(good)) << good;
  }
  for (const char* bad : {"", "example.org", "@example.org", "a@", "a@@b.org", "a b@example.org", "<a@example.org>",
                          "a@example..org", ".a@example.org", "a.@example.org", "a@-example.org", "a@example.org\r\nBcc: x@y.z",
                          "A <a@example.org>", "a@exa_mple.org", "a,b@example.org"}) {
    EXPECT_FALSE(IsPlainAddress(bad)) << Visible(bad);
  }
}

TEST(Mailbox, ReadsNamedAndBareSenders) {
  Mailbox box;
  ASSERT_TRUE(ParseMailbox("LvMAPI <lvmapi@localhost>", box));
  EXPECT_EQ(box.name, "LvMAPI");
  EXPECT_EQ(box.address, "lvmapi@localhost");
  ASSERT_TRUE(ParseMailbox("\"Corvane, Office\" <office@corvane.org>", box));
  EXPECT_EQ(box.name, "Corvane, Office");
  ASSERT_TRUE(ParseMailbox("bare@corvane.org", box));
  EXPECT_EQ(box.name, "");
  for (const char* bad : {"", "no address", "a@x.org, b@x.org", "Group: a@x.org;", "Name <not-an-address>"}) {
    EXPECT_FALSE(ParseMailbox(bad, box)) << bad;
  }
}

}  // namespace
