// Who may answer: a reply reaches LvMAPI only when it carries the key of a
// message we sent to its From address, or the church's own provider
// confirmed its sender. Everything else, and a message over the size limit,
// goes to Needs reading unread, with the line that says why.
#include <gtest/gtest.h>

#include "email_test_support.h"
#include "emailaccess/intake.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/sent_register.h"

namespace {

using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;

constexpr const char kAnnKey[] = "lvm.0a1b2c3d4e5f60718293a4b5c6d7e8f9@church.example";
constexpr const char kOwnServer[] = "mail.church.example";
constexpr const char kLeft[] = "Not stored, left for reading: the reply of ";

std::string Message(const std::string& fields, const std::string& body = "<answer1>Yes</answer1>\n") {
  return fields + "To: office@church.example\nSubject: Re: Corvane Survey - Spring\n"
                  "Date: Mon, 2 Mar 2026 10:00:00 +0000\nContent-Type: text/plain; charset=utf-8\n\n" + body;
}

struct Case {
  const char* what;
  std::string message;
  bool handedOver;   // offered to LvMAPI; otherwise in Needs reading, unread
  std::string line;  // on the run log; empty: none
};

TEST(ReplyTrust, OnlyBelievedRepliesReachLvMAPIAndTheRestWaitForAPersonWithTheirReason) {
  emailaccess_test::ScopedTimeZone utc("UTC");
  const std::string annKey = std::string("In-Reply-To: <") + kAnnKey + ">\n";
  const std::string own = std::string("Authentication-Results: ") + kOwnServer + ";\n spf=pass smtp.mailfrom=example.org;";
  const std::string nul("From: ann@example.org\0 <evil@attacker.example>\n", 47);
  const Case cases[] = {
      {"a member answering with her key", Message("From: Ann Lee <ann@example.org>\n" + annKey), true, ""},
      {"her key among the References, in another case of the address",
       Message("From: ANN@example.org\nReferences: <other@x> <" + std::string(kAnnKey) + ">\n"), true, ""},
      {"a forged From without the key, through a foreign server",
       Message("Received: from evil.example (evil.example [192.0.2.66])\nFrom: ann@example.org\n"), false,
       std::string(kLeft) + "ann@example.org dated 2026-03-02 10:00:00: the sender could not be confirmed"},
      {"a stranger answering a forwarded copy", Message("From: stranger@example.net\n" + annKey), false,
       std::string(kLeft) +
           "stranger@example.net dated 2026-03-02 10:00:00: sent to ann@example.org, answered from stranger@example.net"},
      {"undisclosed recipients with a Reply-To",
       Message("From: undisclosed-recipients:;\nReply-To: pastor.john@example.org\n" + annKey), false,
       std::string(kLeft) + "undisclosed-recipients:; dated 2026-03-02 10:00:00: the sender could not be confirmed"},
      {"a Sender field does not name the writer",
       Message("Sender: ann@example.org\nFrom: mallory@example.net\n" + annKey), false,
       std::string(kLeft) +
           "mallory@example.net dated 2026-03-02 10:00:00: sent to ann@example.org, answered from mallory@example.net"},
      {"the own server found the sender forged, whatever the key",
       Message(own + " dmarc=fail (p=REJECT) header.from=example.org\nFrom: ann@example.org\n" + annKey), false,
       std::string(kLeft) + "ann@example.org dated 2026-03-02 10:00:00: the provider found the sender forged"},
      {"the own server confirmed a sender without a key",
       Message(own + " dmarc=pass header.from=example.org\nFrom: husband@example.org\n"), true, ""},
      {"a foreign server claims a pass",
       Message("Authentication-Results: mx.evil.example; dmarc=pass header.from=example.org\nFrom: ann@example.org\n"),
       false, std::string(kLeft) + "ann@example.org dated 2026-03-02 10:00:00: the sender could not be confirmed"},
      {"a spam verdict written by the sender confirms nothing",
       Message("X-Spam-Flag: NO\nX-Spam-Status: No, score=-5.0\nFrom: ann@example.org\n"), false,
       std::string(kLeft) + "ann@example.org dated 2026-03-02 10:00:00: the sender could not be confirmed"},
      {"a NUL byte in From", Message(nul + annKey), false,
       std::string(kLeft) + "evil@attacker.example dated 2026-03-02 10:00:00: the sender could not be confirmed"},
      {"a message over the size limit is not read",
       Message("From: ann@example.org\n" + annKey, std::string(8500, 'x') + "\n"), false,
       "Not stored, left for reading: the message 1.big received 2026-03-02 10:00:00: 9 KB, larger than the limit of 8 KB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation inst;
    emailaccess::RecordSentMailings(inst.File(emailaccess::kSentRegisterFileName),
                                    {{1772440000, kAnnKey, "ann@example.org", "Corvane Survey - Spring"}}, 1772445600);
    PlaceMessage(inst.config.maildir.inbox, "1.big", c.message, 1772445600);
    emailaccess::MaildirTransport store(inst.config.maildir);
    std::ostringstream runLog;
    emailaccess::FetchRequest request = inst.Request("in.tmp", "Corvane Survey");
    request.runLog = &runLog;
    request.authservId = kOwnServer;
    request.sizeLimitBytes = 8 * 1024;
    const emailaccess::FetchOutcome outcome = emailaccess::FetchReplies(store, inst.log, request);

    EXPECT_EQ(outcome.offered, c.handedOver ? 1 : 0);
    EXPECT_EQ(MaildirMessages(inst.config.maildir.inbox).size(), c.handedOver ? 1u : 0u);
    const std::vector<std::string> held = MaildirMessages(inst.config.maildir.folders[emailaccess::Folder::NeedsReading], false);
    ASSERT_EQ(held.size(), c.handedOver ? 0u : 1u);
    if (!c.handedOver) {
      EXPECT_EQ(held[0].find('S', held[0].find_first_of(":!")), std::string::npos) << "left unread";
    }
    EXPECT_EQ(runLog.str(), c.line.empty() ? "" : c.line + "\n");
    if (!c.line.empty()) {
      EXPECT_NE(inst.LogText().find(c.line + "\n"), std::string::npos) << inst.LogText();
    }
  }
}

}  // namespace
