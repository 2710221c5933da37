// Delivery reports as real mail servers write them (fixtures/delivery_reports,
// see its README), read and filed by operation 4: the recipient and status
// found, the folder the report lands in, and nothing else moved.

#include "email_test_support.h"
#include "emailaccess/message/delivery_report.h"
#include "emailaccess/intake.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/outlook/outlook_message.h"
#include "emailaccess/sending.h"
#include "emailaccess/sent_register.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace {

using emailaccess::ReportKind;
using emailaccess_test::Fixture;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;
using testing_support::ReadFile;

constexpr std::int64_t kNow = 1790000000;

struct ReportCase {
  const char* file;     // under fixtures/
  const char* address;  // the recipient found; nullptr: none
  const char* status;
  ReportKind kind;
  const char* folder;  // where operation 4 leaves it: Undeliverable, Skipped or Inbox
  const char* sentId;  // a Message-ID the sent register holds, or nullptr
};

const ReportCase kReports[] = {
    {"delivery_reports/postfix_headers_only.eml", "kijitora@example.net", "4.3.0", ReportKind::PermanentFailure,
     "Undeliverable", nullptr},
    {"delivery_reports/postfix_other_mail.eml", "kijitora@example.org", "5.1.1", ReportKind::PermanentFailure, "Inbox",
     nullptr},
    {"delivery_reports/exim.eml", "kijitora@example.ed.jp", "5.7.0", ReportKind::PermanentFailure, "Undeliverable",
     "E1P1ce6-000Egt-GZ@e1.example.org"},
    {"delivery_reports/exim.eml", "kijitora@example.ed.jp", "5.7.0", ReportKind::PermanentFailure, "Inbox", nullptr},
    {"delivery_reports/sendmail.eml", "userunknown@bouncehammer.jp", "5.1.1", ReportKind::PermanentFailure,
     "Undeliverable", nullptr},
    {"delivery_reports/sendmail_delayed.eml", "this-local-part-does-not-exist-on-the-system@y-mobile.ne.jp", "4.5.0",
     ReportKind::Delayed, "Skipped", nullptr},
    {"delivery_reports/qmail.eml", "kijitora@example.ne.jp", "5.5.0", ReportKind::PermanentFailure, "Undeliverable",
     nullptr},
    {"delivery_reports/office365.eml", "kijitora@example.com", "5.1.10", ReportKind::PermanentFailure, "Undeliverable",
     nullptr},
    {"delivery_reports/exchange2007_italian.eml", "kijitora@example.jp", "5.1.1", ReportKind::PermanentFailure,
     "Undeliverable", nullptr},
    {"delivery_reports/exchange2003_other_mail.eml", "kijitora@example.jp", "", ReportKind::PermanentFailure, "Inbox",
     nullptr},
    {"delivery_reports/gmail.eml", "userunknown@example.jp", "5.1.1", ReportKind::PermanentFailure, "Undeliverable",
     nullptr},
    {"delivery_reports/yahoo.eml", "kijitora@example.org", "5.1.1", ReportKind::PermanentFailure, "Undeliverable",
     nullptr},
    {"delivery_reports/amazonses.eml", "shironeko@example.co.jp", "5.0.0", ReportKind::PermanentFailure,
     "Undeliverable", nullptr},
    {"exchange_bounce.eml", "old.member@corvane-church.org", "5.1.1", ReportKind::PermanentFailure, "Undeliverable",
     nullptr},
    {"out_of_office.eml", nullptr, "", ReportKind::NotAReport, "Skipped", nullptr},
    // A relay passed the server's delay warning on: wrapped with its own sender, or attached.
    {"relay_wrapped_delay.eml", "ann.lee@example.net", "4.4.1", ReportKind::Delayed, "Skipped", nullptr},
    {"relay_attached_delay.eml", "ann.lee@example.net", "4.4.1", ReportKind::Delayed, "Skipped", nullptr},
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.file << " -> " << c.folder; }

class DeliveryReportFixtureTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DeliveryReportFixtureTest, IsReadAndFiledAndNothingElseMoves) {
  const ReportCase& c = GetParam();
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(Fixture(c.file));
  EXPECT_EQ(report.kind, c.kind);
  if (c.address) {
    ASSERT_EQ(report.recipients.size(), 1u);
    EXPECT_EQ(report.recipients[0].address, c.address);
    EXPECT_EQ(report.recipients[0].status, c.status);
  } else {
    EXPECT_TRUE(report.recipients.empty());
  }

  Installation inst;
  PlaceMessage(inst.config.maildir.inbox, "1.report", Fixture(c.file), kNow - 60);
  // A person's mail about something else, and one about another mailing.
  PlaceMessage(inst.config.maildir.inbox, "2.other", "From: choir@example.org\r\nSubject: Choir practice\r\n\r\nAt 7.\r\n",
               kNow - 50);
  const std::string registerPath = inst.File(emailaccess::kSentRegisterFileName);
  if (c.sentId) emailaccess::RecordSentMailings(registerPath, {{kNow - 3600, c.sentId, c.address, "Corvane Survey"}}, kNow);
  emailaccess::MaildirTransport store(inst.config.maildir);
  std::ostringstream runLog;
  emailaccess::FetchRequest request = inst.Request("in.tmp", "Corvane Survey");
  request.runLog = &runLog;
  const emailaccess::FetchOutcome outcome = emailaccess::FetchReplies(store, inst.log, request);

  const std::string folder = c.folder;
  EXPECT_EQ(outcome.offered, 0);
  EXPECT_EQ(ReadFile(inst.File("in.tmp")), "") << "a report is never offered as a reply";
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Undeliverable]).size(), folder == "Undeliverable" ? 1u : 0u);
  EXPECT_EQ(MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::Skipped]).size(), folder == "Skipped" ? 1u : 0u);
  const std::vector<std::string> stays = folder == "Inbox" ? std::vector<std::string>{"1.report", "2.other"}
                                                           : std::vector<std::string>{"2.other"};
  EXPECT_EQ(MaildirMessages(inst.config.maildir.inbox), stays);
  EXPECT_EQ(outcome.undeliverable, folder == "Undeliverable" ? 1 : 0);
  EXPECT_EQ(outcome.delayed, c.kind == ReportKind::Delayed ? 1 : 0);

  std::string told;
  if (folder != "Inbox" && c.address) {
    told = std::string(c.kind == ReportKind::Delayed ? "Delayed for " : "Not delivered to ") + c.address + ": " +
           c.status;
  }
  const std::string lines = runLog.str();
  if (told.empty()) {
    EXPECT_EQ(lines, "");
  } else {
    EXPECT_EQ(lines.rfind(told, 0), 0u) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << "one line per recipient";
    EXPECT_NE(inst.LogText().find(told), std::string::npos) << "told in LVEmailAccess.log too";
  }
}

INSTANTIATE_TEST_SUITE_P(RealReports, DeliveryReportFixtureTest, ::testing::ValuesIn(kReports),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           name = name.substr(name.rfind('/') + 1);
                           name = name.substr(0, name.find('.')) + "_" + info.param.folder;
                           return name;
                         });

// Reports made up to corner the reader: what it must not take for a failure.
struct MadeUpCase {
  const char* name;
  const char* message;
  ReportKind kind;
  size_t recipients;
};

const MadeUpCase kMadeUp[] = {
    {"OutOfOfficeNamingAColleague",
     "From: ann@example.org\r\nSubject: Out of office: Corvane Survey\r\nAuto-Submitted: auto-replied\r\n\r\n"
     "I am away until Monday.\r\n\r\nbo@example.org will answer in the meantime.\r\n",
     ReportKind::NotAReport, 0},
    {"ReportOfSuccess",
     "From: MAILER-DAEMON@example.org\r\nSubject: Delivery Status Notification (Success)\r\nMIME-Version: 1.0\r\n"
     "Content-Type: multipart/report; report-type=delivery-status; boundary=b\r\n\r\n--b\r\n"
     "Content-Type: text/plain\r\n\r\nDelivered.\r\n--b\r\nContent-Type: message/delivery-status\r\n\r\n"
     "Reporting-MTA: dns; mx.example.org\r\n\r\nFinal-Recipient: rfc822; ann@example.org\r\nAction: delivered\r\n"
     "Status: 2.0.0\r\n--b--\r\n",
     ReportKind::NotAReport, 0},
    {"OneFailedOneDelayed",
     "From: MAILER-DAEMON@example.org\r\nSubject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
     "Content-Type: multipart/report; report-type=delivery-status; boundary=b\r\n\r\n--b\r\n"
     "Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.org\r\n\r\n"
     "Final-Recipient: rfc822; ann@example.org\r\nAction: failed\r\nStatus: 5.1.1\r\n"
     "Diagnostic-Code: smtp; 550 5.1.1\r\n  no such user\r\n\r\n"
     "Original-Recipient: rfc822; bo@example.org\r\nFinal-Recipient: rfc822; bo@forward.example.net\r\n"
     "Action: delayed\r\nStatus: 4.4.1\r\n--b--\r\n",
     ReportKind::PermanentFailure, 2},
    {"NoRecipientAddress",
     "From: MAILER-DAEMON@example.org\r\nSubject: failure notice\r\n\r\nSomething went wrong.\r\n",
     ReportKind::NotAReport, 0},
};

class MadeUpReportTest : public ::testing::TestWithParam<MadeUpCase> {};

TEST_P(MadeUpReportTest, KindAndRecipients) {
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(GetParam().message);
  EXPECT_EQ(report.kind, GetParam().kind);
  EXPECT_EQ(report.recipients.size(), GetParam().recipients);
}

INSTANTIATE_TEST_SUITE_P(Corners, MadeUpReportTest, ::testing::ValuesIn(kMadeUp),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MadeUpReport, TwoRecipientsAreToldApartWithTheirReasons) {
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(kMadeUp[2].message);
  ASSERT_EQ(report.recipients.size(), 2u);
  EXPECT_EQ(emailaccess::DescribeFailure(report.recipients[0]),
            "Not delivered to ann@example.org: 5.1.1 550 5.1.1 no such user");
  EXPECT_EQ(emailaccess::DescribeFailure(report.recipients[1]), "Delayed for bo@example.org: 4.4.1")
      << "the address we sent to, not where it was forwarded";
}

// A report naming a crowd costs time in proportion to its size, not more.
TEST(MadeUpReport, ThousandsOfAddressesAreReadInBoundedTime) {
  std::string message = "From: MAILER-DAEMON@example.org\r\nSubject: failure notice\r\n\r\n";
  for (int n = 0; n < 200000; ++n) message += "<u" + std::to_string(n) + "@example.org>: 550 5.1.1 unknown\r\n";
  const auto start = std::chrono::steady_clock::now();
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(message);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(report.recipients.size(), 100u);
  EXPECT_EQ(report.kind, ReportKind::PermanentFailure);
}

// Outlook's report items, as its transport hands them over: the class says
// what kind of report it is, the text whom it is about.
struct OutlookCase {
  const char* messageClass;
  const char* subject;
  ReportKind kind;
};

const OutlookCase kOutlookItems[] = {
    {"REPORT.IPM.Note.NDR", "Undeliverable: Corvane Survey - Autumn 2026", ReportKind::PermanentFailure},
    {"REPORT.IPM.Note.DR", "Delivered: Corvane Survey - Autumn 2026", ReportKind::NotAReport},
    {"REPORT.IPM.Note.IPNRN", "Read: Corvane Survey - Autumn 2026", ReportKind::NotAReport},
};

class OutlookReportTest : public ::testing::TestWithParam<OutlookCase> {};

TEST_P(OutlookReportTest, ClassDecidesAndTextNamesTheRecipient) {
  emailaccess::OutlookMail item;
  item.messageClass = GetParam().messageClass;
  item.senderAddress = "postmaster@corvane-church.org";
  item.subject = GetParam().subject;
  item.body = "Delivery has failed to these recipients or groups:\r\n\r\nann.lee@example.org (ann.lee@example.org)\r\n"
              "The email address you entered couldn't be found.\r\n\r\nDiagnostic information for administrators:"
              "\r\n\r\nann.lee@example.org\r\nRemote Server returned '550 5.1.1 RESOLVER.ADR.RecipNotFound; not "
              "found'\r\n";
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(emailaccess::OutlookMailAsMessage(item));
  EXPECT_EQ(report.kind, GetParam().kind);
  if (GetParam().kind == ReportKind::NotAReport) return;
  ASSERT_EQ(report.recipients.size(), 1u);
  EXPECT_EQ(emailaccess::DescribeFailure(report.recipients[0]),
            "Not delivered to ann.lee@example.org: 5.1.1 Remote Server returned '550 5.1.1 "
            "RESOLVER.ADR.RecipNotFound; not found'");
  EXPECT_EQ(report.returnedSubject, "Corvane Survey - Autumn 2026");
}

INSTANTIATE_TEST_SUITE_P(Classes, OutlookReportTest, ::testing::ValuesIn(kOutlookItems), [](const auto& info) {
  std::string name = info.param.messageClass;
  return name.substr(name.rfind('.') + 1);
});

// The sent register keeps what it is told to (400 days unless set), only
// for its owner, survives odd subjects, and leaves out a damaged line
// without losing the others.
TEST(SentRegister, KeepsItsDaysOwnerOnlyAndEveryFieldAsItWas) {
  testing_support::ScratchDir dir;
  const std::string path = dir.file(emailaccess::kSentRegisterFileName);
  constexpr std::int64_t kDay = emailaccess::kSecondsPerDay;
  const emailaccess::SentMailing old{kNow - emailaccess::kSentKeptDays * kDay - 1, "old@x", "a@example.org", "Old"};
  const emailaccess::SentMailing monthsAgo{kNow - 300 * kDay, "months@x", "c@example.org", "Corvane Strategy"};
  const emailaccess::SentMailing recent{kNow - 10, "new@x", "b@example.org", "Corvane Survey -\t100%\r\nx"};
  emailaccess::RecordSentMailings(path, {old, monthsAgo}, kNow - 20);
  emailaccess::RecordSentMailings(path, {recent}, kNow);
  std::vector<std::string> problems;
  EXPECT_EQ(emailaccess::LoadSentMailings(path, problems), (std::vector<emailaccess::SentMailing>{monthsAgo, recent}));
  EXPECT_TRUE(problems.empty());
#ifndef _WIN32
  EXPECT_FALSE(platform::OthersMayRead(path));
#endif
  emailaccess::RecordSentMailings(path, {}, kNow, 30);
  EXPECT_EQ(emailaccess::LoadSentMailings(path, problems), std::vector<emailaccess::SentMailing>{recent});

  testing_support::WriteFile(path, ReadFile(path) + "12x\tbroken\n");
  EXPECT_EQ(emailaccess::LoadSentMailings(path, problems), std::vector<emailaccess::SentMailing>{recent});
  EXPECT_EQ(problems.size(), 1u);
}

// Sending keeps the Message-ID each recipient's message really carries.
TEST(SentRegister, SendingKeepsTheMessageIdOfEachMessage) {
  Installation inst;
  const std::string exchange = inst.File("out.tmp");
  testing_support::WriteFile(exchange, "<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1>"
                                       "<Body>Dear Ann</Body>");
  emailaccess::MaildirTransport transport(inst.config.maildir);
  emailaccess::SendRun run(transport, inst.log, nullptr);
  const std::string path = inst.File(emailaccess::kSentRegisterFileName);
  run.KeepSentIn(path);
  run.SendExchangeFile({"LvMAPI", "lvmapi@corvane-church.org"}, exchange, "Corvane Survey - Autumn 2026");
  std::vector<std::string> problems;
  const std::vector<emailaccess::SentMailing> kept = emailaccess::LoadSentMailings(path, problems);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].recipient, "ann@example.org");
  EXPECT_EQ(kept[0].subject, "Corvane Survey - Autumn 2026");
  const std::vector<std::string> sent = MaildirMessages(inst.config.maildir.outbox, false);
  ASSERT_EQ(sent.size(), 1u);
  const std::string message = ReadFile(inst.config.maildir.outbox + "/new/" + sent[0]);
  EXPECT_NE(message.find("Message-ID: <" + kept[0].messageId + ">"), std::string::npos);
}

}  // namespace
