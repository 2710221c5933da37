// Operations 1 and 2 through a real SMTP submission server: TLS and login,
// one connection for the list, the reply to each message, retries, the queue
// that keeps what a server out of reach could not take.

#include "emailaccess/message/message_text.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using emailaccess_test::ClientOptions;
using emailaccess_test::Holds;
using emailaccess_test::ServerTest;
using testing_support::Visible;

using People = std::vector<std::pair<std::string, std::string>>;

const People kFive = {{"Ann Lee", "ann@example.org"},
                      {"Robert O'Brien", "rob@example.org"},
                      {"Mar\xc3\xad" "a Santos", "maria@example.org"},
                      {"David Kim", "david@example.org"},
                      {"", "grace@example.org"}};

std::vector<std::string> Sorted(std::vector<std::string> values) {
  std::sort(values.begin(), values.end());
  return values;
}

std::vector<std::string> Addresses(const People& people) {
  std::vector<std::string> addresses;
  for (const auto& person : people) addresses.push_back(person.second);
  return Sorted(addresses);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
  return n;
}

class SmtpTest : public ServerTest {};

// Both ways of TLS the providers offer: STARTTLS on 587, implicit on 465.
TEST_F(SmtpTest, EveryRecipientGetsTheirOwnMessageOverOneConnection) {
  for (const char* scheme : {"smtp", "smtps"}) {
    SCOPED_TRACE(scheme);
    ClientOptions options;
    options.smtpScheme = scheme;
    Configure(options);
    const int connectionsBefore = m_servers->SmtpConnections();
    const size_t deliveredBefore = m_servers->Messages("Delivered").size();
    // A line that is only a dot, and one that starts with one: SMTP's end
    // of data must not cut the message short.
    const std::string body = "Dear member,\r\n.\r\n.hidden line\r\n<answer1></answer1>\r\nThank You!\r\n";
    const std::string subject = std::string("Corvane Survey - Spring ") + scheme;  // a mailing of its own
    auto sent = Run({"2", WriteOutgoing(kFive, body), subject, "0"});
    ASSERT_EQ(sent.exitCode, 0) << sent.err << Log();
    EXPECT_EQ(m_servers->SmtpConnections() - connectionsBefore, 1) << "one connection for the whole list";

    const auto delivered = m_servers->Messages("Delivered");
    ASSERT_EQ(delivered.size() - deliveredBefore, kFive.size());
    std::vector<std::string> recipients;
    for (size_t i = deliveredBefore; i < delivered.size(); ++i) {
      const auto message = emailaccess::ReadIncomingMessage(delivered[i], "nobody@example.org");
      ASSERT_TRUE(message.parsed);
      EXPECT_EQ(message.subject, subject);
      EXPECT_EQ(message.body, body) << Visible(message.body);
      EXPECT_EQ(message.senderAddress, "office@grace.example.org");
      EXPECT_TRUE(Holds(delivered[i], "Return-Path: <office@grace.example.org>\r\n")) << "the envelope sender";
    }
    EXPECT_TRUE(Holds(Log(), "sent to Mar\xc3\xad" "a Santos <maria@example.org>, subject \"" + subject + "\""));
    EXPECT_TRUE(Holds(Log(), "250 2.0.0 OK delivered"));
  }
  EXPECT_EQ(Sorted(m_servers->SmtpRecipients()), Sorted([] {
              auto both = Addresses(kFive);
              auto again = both;
              both.insert(both.end(), again.begin(), again.end());
              return both;
            }()));
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(SmtpTest, ARefusedRecipientIsLoggedAndTheOthersAreSent) {
  Configure();
  m_servers->Command("smtp-reject rob@example.org 550 5.1.1 <rob@example.org>: Recipient address rejected");
  auto sent = Run({"2", WriteOutgoing(kFive), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(sent.exitCode, 1) << "a refusal for good is a failure";
  EXPECT_EQ(m_servers->Messages("Delivered").size(), 4u);
  EXPECT_TRUE(Holds(sent.err, "cannot send to Robert O'Brien <rob@example.org>")) << sent.err;
  EXPECT_TRUE(Holds(Log(), "550 5.1.1 <rob@example.org>: Recipient address rejected")) << Log();
  EXPECT_FALSE(Holds(Log(), "trying again")) << "5xx is not retried";
  EXPECT_EQ(Queued(), 0u) << "a refusal does not pass by waiting";
}

TEST_F(SmtpTest, ATemporaryRefusalIsRetriedWithGrowingWaits) {
  ClientOptions options;
  options.retries = 3;
  Configure(options);
  m_servers->Command("smtp-tempfail-data 2");
  auto sent = Run({"2", WriteOutgoing({kFive[0]}), "Corvane Survey - Spring", "0"});
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_EQ(m_servers->Messages("Delivered").size(), 1u);
  const std::string log = Log();
  EXPECT_TRUE(Holds(log, "451 4.3.0 Temporary local problem, try again later), trying again in 20 ms")) << log;
  EXPECT_TRUE(Holds(log, "trying again in 40 ms")) << log;
  EXPECT_FALSE(Holds(log, "trying again in 80 ms")) << log;
}

TEST_F(SmtpTest, ATemporaryRefusalBeyondTheRetriesIsQueuedAndSentByALaterRun) {
  Configure();  // two retries
  m_servers->Command("smtp-tempfail-data 100");
  auto first = Run({"2", WriteOutgoing({kFive[0], kFive[1]}), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(first.exitCode, 75) << first.err << Log();
  EXPECT_EQ(m_servers->Messages("Delivered").size(), 0u);
  EXPECT_EQ(Queued(), 2u);
  EXPECT_TRUE(Holds(Log(), "not sent to Ann Lee <ann@example.org>, subject \"Corvane Survey - Spring\"")) << Log();

  m_servers->Command("smtp-tempfail-data 0");
  auto later = Run({"--send-queued"});
  EXPECT_EQ(later.exitCode, 0) << later.err << Log();
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(Sorted(m_servers->SmtpRecipients()), (std::vector<std::string>{"ann@example.org", "rob@example.org"}));
  const auto delivered = m_servers->Messages("Delivered");
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(emailaccess::ReadIncomingMessage(delivered[0], "x@example.org").subject, "Corvane Survey - Spring");
}

// The server goes away after two messages, as a crashed or restarted server
// does: nothing is lost, and the next run completes the list, with no one
// served twice.
TEST_F(SmtpTest, AServerStoppedMidRunLosesNothingAndTheNextRunCompletes) {
  Configure();
  m_servers->Command("smtp-stop-after 2");
  auto broken = Run({"2", WriteOutgoing(kFive), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(broken.exitCode, 75) << broken.err << Log();
  EXPECT_EQ(m_servers->Messages("Delivered").size(), 2u);
  EXPECT_EQ(Queued(), 3u);
  EXPECT_TRUE(Holds(Log(), "3 queued for a later run")) << Log();

  m_servers->Command("start-smtp");
  // The next mailing sends the queue first, then its own list.
  auto next = Run({"1", WriteOutgoing({{"Pastor John", "john@example.org"}}), "Corvane Strategy - Goal", "0"});
  EXPECT_EQ(next.exitCode, 0) << next.err << Log();
  EXPECT_EQ(Queued(), 0u);
  std::vector<std::string> expected = Addresses(kFive);
  expected.push_back("john@example.org");
  EXPECT_EQ(Sorted(m_servers->SmtpRecipients()), Sorted(expected)) << "everyone exactly once";
}

TEST_F(SmtpTest, AnUnreachableServerExits75AndKeepsEveryMessage) {
  Configure();
  m_servers->Command("stop-smtp");
  auto sent = Run({"2", WriteOutgoing(kFive), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(sent.exitCode, 75) << sent.err;
  EXPECT_EQ(Queued(), kFive.size());
  EXPECT_TRUE(Holds(Log(), "server out of reach")) << Log();
  // The connection is tried for the first message only (with its two
  // retries), not once per message.
  EXPECT_EQ(Occurrences(Log(), "trying again"), 2u) << Log();
  EXPECT_EQ(Run({"--send-queued"}).exitCode, 75) << "still out of reach";
  EXPECT_EQ(Queued(), kFive.size());

  m_servers->Command("start-smtp");
  EXPECT_EQ(Run({"--send-queued"}).exitCode, 0) << Log();
  EXPECT_EQ(Sorted(m_servers->SmtpRecipients()), Addresses(kFive));
}

}  // namespace
