// An Outlook item as the raw message the reply cycle reads: read back by the
// same reader as Maildir and IMAP mail, it gives the reply record a mail
// program's message with the same sender, subject, date and body gives.
#include "emailaccess/message/message_text.h"
#include "emailaccess/outlook/outlook_message.h"
#include "util/dates.h"

#include <gtest/gtest.h>

namespace emailaccess {
namespace {

double LocalDate(int year, int month, int day, int hour, int minute, int second) {
  double date = 0;
  EXPECT_TRUE(DateFromFields(year, month, day, hour, minute, second, date));
  return date;
}

// Outlook ends a recipient at ";" or ",": a name holding one must not
// become two recipients, nor lose the address.
TEST(OutlookMessageTest, TheRecipientCarriesItsNameInAFormOutlookResolves) {
  struct Case {
    std::string name, text;
  };
  const Case cases[] = {
      {"Ann Lee", "Ann Lee <ann.lee@example.org>"},
      {"", "ann.lee@example.org"},
      {"Lee, Ann", "Lee Ann <ann.lee@example.org>"},
      {"Ann \"the Boss\"; Lee", "Ann the Boss Lee <ann.lee@example.org>"},
      {"  <>;  ", "ann.lee@example.org"},
      {"Zoë Ñúñez", "Zoë Ñúñez <ann.lee@example.org>"},
  };
  for (const Case& c : cases) EXPECT_EQ(OutlookRecipientText(c.name, "ann.lee@example.org"), c.text) << c.name;
}

TEST(OutlookMessageTest, AnItemReadsLikeTheSameMailFromAMailbox) {
  const double received = LocalDate(2026, 3, 2, 10, 15, 30);
  struct Case {
    const char* name;
    OutlookMail mail;
    std::string body;       // as the reader gives it
    bool automatic = false;
  } cases[] = {
      {"plain text beyond ASCII",
       {"ann@example.org", "Re: Corvane Survey - Grüße", "<answer1>schön</answer1>\r\nAnn", "", "IPM.Note", received},
       "<answer1>schön</answer1>\r\nAnn"},
      {"HTML mail is read from its HTML, as HTML-only mail is",
       {"bo@example.org", "RE: Corvane Survey", "Outlook's own text", "<p>&lt;answer1&gt;yes&lt;/answer1&gt;</p><p>Bo</p>",
        "IPM.Note", received},
       "<answer1>yes</answer1>\r\nBo"},
      {"lines that look like headers or boundaries stay text",
       {"cy@example.org", "Re: Corvane Survey", "From: someone\r\n--boundary\r\n\r\nSubject: x", "", "IPM.Note",
        received},
       "From: someone\r\n--boundary\r\n\r\nSubject: x"},
      {"a delivery report", {"postmaster@example.org", "Undeliverable: Corvane Survey", "gone", "",
                             "REPORT.IPM.Note.NDR", received}, "gone", true},
      {"an out-of-office reply", {"dee@example.org", "Automatic reply: Corvane Survey", "away", "",
                                  "IPM.Note.Rules.OofTemplate.Microsoft", received}, "away", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const IncomingMessage read = ReadIncomingMessage(OutlookMailAsMessage(c.mail), "lvmapi@localhost");
    ASSERT_TRUE(read.parsed);
    EXPECT_EQ(read.senderAddress, c.mail.senderAddress);
    EXPECT_EQ(read.subject, c.mail.subject);
    EXPECT_TRUE(read.hasDate);
    EXPECT_EQ(read.localDate, "2026-03-02 10:15:30");
    EXPECT_EQ(read.body.substr(0, c.body.size()), c.body);
    EXPECT_EQ(!read.automaticReason.empty(), c.automatic) << read.automaticReason;
  }
}

TEST(OutlookMessageTest, WhatOutlookCouldHandBadlyStaysInItsPlace) {
  OutlookMail mail{"ann@example.org\r\nBcc: x@example.org", "Re: Corvane Survey\r\nX-Injected: 1", "b", "", "IPM.Note",
                   1e9};  // a date past the calendar
  const std::string raw = OutlookMailAsMessage(mail);
  EXPECT_EQ(raw.find("\r\nBcc:"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("\r\nX-Injected:"), std::string::npos) << raw;
  const IncomingMessage read = ReadIncomingMessage(raw, "");
  ASSERT_TRUE(read.parsed);
  EXPECT_FALSE(read.hasDate);  // the cycle then takes the arrival time
  std::int64_t seconds = 0;
  EXPECT_FALSE(LocalDateToUnixSeconds(1e9, seconds));
  EXPECT_TRUE(LocalDateToUnixSeconds(LocalDate(1970, 1, 2, 0, 0, 0), seconds));
  EXPECT_NEAR(static_cast<double>(seconds), 86400.0, 14 * 3600.0);  // whatever the local zone
}

}  // namespace
}  // namespace emailaccess
