// Replies as the mail programs people use write them, each taken through
// operation 4 into the exact incoming exchange-file text LvMAPI will read.

#include "email_test_support.h"
#include "emailaccess/intake.h"
#include "emailaccess/maildir/maildir_transport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using emailaccess_test::Fixture;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;
using emailaccess_test::ScopedTimeZone;
using testing_support::ReadFile;
using testing_support::Visible;

struct Expected {
  const char* originator;
  const char* date;  // in UTC
  const char* body;
};

std::string Elements(int n, const Expected& e) {
  const std::string number = std::to_string(n);
  return "<Originator" + number + ">" + e.originator + "</Originator" + number + ">\r\n<Date" + number + ">" + e.date +
         "</Date" + number + ">\r\n<Body" + number + ">" + e.body + "</Body" + number + ">\r\n";
}

const Expected kOutlook = {
    "anna.weber@corvane-church.org", "2026-03-02 08:14:02",
    "<answer1>Ja, ich bin dabei \u2013 gerne auch als Helferin.</answer1>\r\n"
    "<answer2>Das Gemeindefest f\u00fcr 20 \u20ac pro Person ist zu teuer, finde ich pers\u00f6nlich.</answer2>\r\n"
    "Viele Gr\u00fc\u00dfe, Anna\r\n"
    "\r\n"
    "-----Urspr\u00fcngliche Nachricht-----\r\n"
    "Von: LvMAPI <lvmapi@localhost>\r\n"
    "Gesendet: Montag, 2. M\u00e4rz 2026 08:00\r\n"
    "An: Weber, Anna <anna.weber@corvane-church.org>\r\n"
    "Betreff: Corvane Survey - Spring\r\n"
    "\r\n"
    "<SurveyID>{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}</SurveyID>\r\n"};

const Expected kGmail = {"tom.brennan@gmail.com", "2026-03-04 02:47:13",
                         "<answer1>Yes</answer1>\r\n"
                         "<answer2>Saturday mornings work best for our family \u2014 after 10.</answer2>\r\n"
                         "\r\n"
                         "On Tue, Mar 3, 2026 at 8:00 AM LvMAPI <lvmapi@localhost> wrote:\r\n"
                         "\r\n"
                         "> Spring survey\r\n"
                         ">\r\n"
                         "> Dear Tom,\r\n"
                         ">\r\n"
                         "> <answer1></answer1>\r\n"
                         ">\r\n"};

const Expected kIphone = {"maria.santos@icloud.com", "2026-03-04 06:02:55",
                          "<answer1>Ja, sehr gern!</answer1>\r\n"
                          "<answer2>Vielleicht sp\u00e4ter</answer2>\r\n"
                          "\r\n"
                          "Liebe Gr\u00fc\u00dfe\r\n"
                          "Maria\r\n"
                          "\r\n"
                          "Am 02.03.2026 um 09:00 schrieb LvMAPI <lvmapi@localhost>:\r\n"
                          "\r\n"
                          "Spring survey\r\n"
                          "\r\n"
                          "<answer1></answer1>"};

const Expected kFlowed = {"peter.lindqvist@posteo.de", "2026-03-05 17:30:00",
                          "<answer1>Yes</answer1>\r\n"
                          "<answer2>I would like to help with the youth group in Malm\u00f6 on Friday evenings, but "
                          "only every second week because of my shift work.</answer2>\r\n"
                          "From my side that is all.\r\n"
                          "\r\n"
                          "-- \r\n"
                          "Peter\r\n"
                          "\r\n"
                          "On 02/03/2026 09:00, LvMAPI wrote:\r\n"
                          "> Spring survey\r\n"
                          ">\r\n"
                          "> <answer1></answer1>\r\n"};

const Expected kBase64 = {"joerg.haendel@web.de", "2026-03-06 09:00:00",
                          "Hallo,\r\n"
                          "\r\n"
                          "<Percent>75</Percent>\r\n"
                          "<Comment>Dach ist fertig, Fenster folgen im Mai. Gr\u00fc\u00dfe aus K\u00f6ln</Comment>\r\n"};

const Expected kEncodedSubject = {"li.wei@example.net", "2026-03-07 04:00:00", "<answer1>No</answer1>\r\n"};

const Expected kAttachment = {"sabine.krause@gmx.de", "2026-03-08 19:15:42",
                              "<answer1>Yes, see the duty roster attached.</answer1>\r\n"};

struct FixtureCase {
  const char* file;
  const char* subject;
  const Expected* reply;  // nullptr: automatic mail, never offered
  bool undeliverable = false;  // a delivery report of our mailing: filed as undeliverable, not skipped
};

const FixtureCase kFixtures[] = {
    {"outlook_alternative.eml", "Corvane Survey", &kOutlook},
    {"gmail_quoted.eml", "Corvane Survey", &kGmail},
    {"iphone_html_only.eml", "Corvane Survey", &kIphone},
    {"thunderbird_flowed.eml", "Corvane Survey", &kFlowed},
    {"android_base64.eml", "Corvane Strategy", &kBase64},
    {"rfc2047_subject.eml", "corvane survey", &kEncodedSubject},
    {"thunderbird_attachment.eml", "Corvane Survey", &kAttachment},
    {"out_of_office.eml", "Corvane Survey", nullptr},
    {"exchange_bounce.eml", "Corvane Survey", nullptr, true},
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.file; }

class IntakeFixtureTest : public ::testing::TestWithParam<FixtureCase> {
 protected:
  ScopedTimeZone utc_{"UTC"};
};

// One message alone in the Inbox gives exactly the expected file; after the
// file is consumed the next run acknowledges it into Processed, an
// automatic message goes to Skipped and a bounce of our mailing to
// Undeliverable, and neither is ever offered.
TEST_P(IntakeFixtureTest, GivesExactExchangeTextAndEndsInTheRightFolder) {
  const FixtureCase& c = GetParam();
  Installation inst;
  PlaceMessage(inst.config.maildir.inbox, "1772400000.M1P1.host", emailaccess_test::AnsweringOurs(inst, Fixture(c.file)), 1772400000);
  emailaccess::MaildirTransport store(inst.config.maildir);

  const std::string first = inst.File("first.tmp");
  emailaccess::FetchOutcome outcome = emailaccess::FetchReplies(store, inst.log, inst.Request("first.tmp", c.subject));
  const std::string expected = c.reply ? Elements(1, *c.reply) : "";
  EXPECT_EQ(Visible(ReadFile(first)), Visible(expected));
  EXPECT_EQ(outcome.offered, c.reply ? 1 : 0);
  EXPECT_EQ(outcome.skipped, c.reply || c.undeliverable ? 0 : 1);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Skipped]).size(), c.reply || c.undeliverable ? 0u : 1u);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Undeliverable]).size(), c.undeliverable ? 1u : 0u);

  ASSERT_EQ(std::remove(first.c_str()), 0);  // LvMAPI consumed it
  const std::string second = inst.File("second.tmp");
  outcome = emailaccess::FetchReplies(store, inst.log, inst.Request("second.tmp", c.subject));
  EXPECT_EQ(ReadFile(second), "");
  EXPECT_EQ(outcome.processed, c.reply ? 1 : 0);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Processed]).size(), c.reply ? 1u : 0u);
  EXPECT_TRUE(MaildirMessages(inst.config.maildir.inbox).empty());
}

INSTANTIATE_TEST_SUITE_P(MailPrograms, IntakeFixtureTest, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// All of them together: only the replies about the subject, in order of
// arrival (not of file name), numbered without gaps; the goal reply stays
// for its own subject, the out-of-office note goes to Skipped, the bounce
// to Undeliverable.
TEST(IntakeFixtures, MixedInboxOffersMatchingRepliesInArrivalOrder) {
  ScopedTimeZone utc("UTC");
  Installation inst;
  const char* arrival[] = {"thunderbird_attachment.eml", "out_of_office.eml", "gmail_quoted.eml",
                           "android_base64.eml",        "outlook_alternative.eml", "exchange_bounce.eml",
                           "iphone_html_only.eml",      "rfc2047_subject.eml",     "thunderbird_flowed.eml"};
  int i = 0;
  for (const char* file : arrival) {
    // Names run against arrival, so that sorting by name would be wrong.
    PlaceMessage(inst.config.maildir.inbox, std::to_string(9 - i) + ".fixture", emailaccess_test::AnsweringOurs(inst, Fixture(file)), 1772400000 + i);
    ++i;
  }
  emailaccess::MaildirTransport store(inst.config.maildir);
  const std::string path = inst.File("survey.tmp");
  auto outcome = emailaccess::FetchReplies(store, inst.log, inst.Request("survey.tmp", "Corvane Survey"));

  const std::string expected = Elements(1, kAttachment) + Elements(2, kGmail) + Elements(3, kOutlook) +
                               Elements(4, kIphone) + Elements(5, kEncodedSubject) + Elements(6, kFlowed);
  EXPECT_EQ(Visible(ReadFile(path)), Visible(expected));
  EXPECT_EQ(outcome.offered, 6);
  EXPECT_EQ(outcome.skipped, 1);
  EXPECT_EQ(outcome.undeliverable, 1);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Skipped]), (std::vector<std::string>{"8.fixture"}));
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Undeliverable]), (std::vector<std::string>{"4.fixture"}));
  // Offered but not yet consumed: still waiting, with the goal reply.
  EXPECT_EQ(MaildirMessages(inst.config.maildir.inbox).size(), 7u);

  ASSERT_EQ(std::remove(path.c_str()), 0);
  const std::string goals = inst.File("goals.tmp");
  outcome = emailaccess::FetchReplies(store, inst.log, inst.Request("goals.tmp", "Corvane Strategy"));
  EXPECT_EQ(Visible(ReadFile(goals)), Visible(Elements(1, kBase64)));
  EXPECT_EQ(outcome.processed, 6);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.inbox), (std::vector<std::string>{"6.fixture"}));
}

// The same reply read in a zone east of UTC gets its local date.
TEST(IntakeFixtures, DateIsGivenInLocalTime) {
  ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  Installation inst;
  PlaceMessage(inst.config.maildir.inbox, "1.m", emailaccess_test::AnsweringOurs(inst, Fixture("gmail_quoted.eml")), 1772400000);
  emailaccess::MaildirTransport store(inst.config.maildir);
  emailaccess::FetchReplies(store, inst.log, inst.Request("x.tmp", "Corvane Survey"));
  EXPECT_NE(ReadFile(inst.File("x.tmp")).find("<Date1>2026-03-04 03:47:13</Date1>"), std::string::npos);
}

}  // namespace
