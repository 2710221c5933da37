// What happens to each message when the sender fails: refusals are logged,
// what may pass is queued (or counted, without a queue), a lost connection
// sends the rest straight to the queue, a refused login stops the run, and
// a later run delivers the queue.

#include "email_test_support.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/sending.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

using namespace emailaccess;
using emailaccess_test::Installation;
using emailaccess_test::MaildirMessages;
using testing_support::WriteFile;

enum class Answer { Accept, RefuseMessage, LaterMessage, ConnectionLost, ConnectionRefusedForGood, LoginRefused };

// A sender that answers each call with the next scripted answer (Accept once
// the script is used up) and remembers who it was asked to send to.
class ScriptedSender : public IMailSender {
 public:
  explicit ScriptedSender(std::deque<Answer> script = {}) : m_script(std::move(script)) {}

  std::string Send(const std::string& recipient, const std::string&) override {
    asked.push_back(recipient);
    const Answer answer = m_script.empty() ? Answer::Accept : m_script.front();
    if (!m_script.empty()) m_script.pop_front();
    switch (answer) {
      case Answer::Accept:
        accepted.push_back(recipient);
        return "250 ok";
      case Answer::RefuseMessage:
        throw TransportError("550 no such user", false);
      case Answer::LaterMessage:
        throw TransportError("451 try later", true);
      case Answer::ConnectionLost:
        throw TransportError("server out of reach", true, FailureScope::Connection);
      case Answer::ConnectionRefusedForGood:
        throw TransportError("certificate not trusted", false, FailureScope::Connection);
      case Answer::LoginRefused:
        throw LoginError("login refused");
    }
    return "";
  }
  std::string Route() const override { return "sent through the script"; }
  void Check(std::vector<CheckFinding>&) override {}

  std::vector<std::string> asked, accepted;

 private:
  std::deque<Answer> m_script;
};

class SendQueueTest : public ::testing::Test {
 protected:
  std::string Exchange(int recipients) {
    std::string text;
    for (int n = 1; n <= recipients; ++n) {
      const std::string i = std::to_string(n);
      text += "<Recipient" + i + ">P" + i + "</Recipient" + i + ">\r\n<Email" + i + ">p" + i + "@example.org</Email" + i +
              ">\r\n";
    }
    const std::string path = inst.File("out.tmp");
    WriteFile(path, text + "<Body>Dear member,\r\n<answer1></answer1>\r\n</Body>");
    return path;
  }
  SendOutcome Run(ScriptedSender& sender, int recipients, bool withQueue = true) {
    SendRun run(sender, inst.log, withQueue ? &queue : nullptr);
    run.SendQueued();
    if (recipients > 0) run.SendExchangeFile(Mailbox{"LvMAPI", "office@example.org"}, Exchange(recipients), "Corvane Survey - X");
    return run.outcome();
  }
  size_t Queued() { return MaildirMessages(queue.path()).size(); }

  Installation inst;
  MaildirFolder queue{inst.File("Mail/Queue")};
};

TEST_F(SendQueueTest, RefusalsAreLoggedAndTheOthersSent) {
  ScriptedSender sender({Answer::Accept, Answer::RefuseMessage, Answer::Accept});
  const SendOutcome outcome = Run(sender, 3);
  EXPECT_EQ(outcome.sent, 2);
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_EQ(outcome.queued, 0);
  EXPECT_EQ(Queued(), 0u) << "a refusal does not pass by waiting";
  EXPECT_NE(inst.LogText().find("ERROR cannot send to P2 <p2@example.org>"), std::string::npos) << inst.LogText();
}

TEST_F(SendQueueTest, WhatMayPassIsQueuedAndSentByTheNextRun) {
  ScriptedSender first({Answer::Accept, Answer::LaterMessage, Answer::Accept});
  SendOutcome outcome = Run(first, 3);
  EXPECT_EQ(outcome.sent, 2);
  EXPECT_EQ(outcome.queued, 1);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(first.asked.size(), 3u) << "one message's trouble does not stop the others";
  ASSERT_EQ(Queued(), 1u);

  ScriptedSender second;
  outcome = Run(second, 0);
  EXPECT_EQ(second.accepted, std::vector<std::string>{"p2@example.org"}) << "the envelope comes from the To header";
  EXPECT_EQ(outcome.sent, 1);
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(SendQueueTest, ALostConnectionSendsTheRestStraightToTheQueue) {
  ScriptedSender sender({Answer::Accept, Answer::ConnectionLost});
  const SendOutcome outcome = Run(sender, 5);
  EXPECT_EQ(sender.asked, (std::vector<std::string>{"p1@example.org", "p2@example.org"}))
      << "no attempt after the connection failed";
  EXPECT_EQ(outcome.sent, 1);
  EXPECT_EQ(outcome.queued, 4);
  EXPECT_EQ(Queued(), 4u);

  // The queue goes first, oldest first, then the new list; a second loss
  // keeps what is left.
  ScriptedSender next({Answer::Accept, Answer::Accept, Answer::ConnectionLost});
  const SendOutcome again = Run(next, 2);
  EXPECT_EQ(next.asked.size(), 3u);
  EXPECT_EQ(again.sent, 2);
  EXPECT_EQ(again.queued, 2 + 2) << "two still queued, and the two new ones";
  EXPECT_EQ(Queued(), 4u);

  ScriptedSender last;
  EXPECT_EQ(Run(last, 0).sent, 4);
  EXPECT_EQ(Queued(), 0u);
  std::vector<std::string> everyone = sender.accepted;
  everyone.insert(everyone.end(), next.accepted.begin(), next.accepted.end());
  everyone.insert(everyone.end(), last.accepted.begin(), last.accepted.end());
  std::sort(everyone.begin(), everyone.end());
  EXPECT_EQ(everyone, (std::vector<std::string>{"p1@example.org", "p1@example.org", "p2@example.org", "p2@example.org",
                                                "p3@example.org", "p4@example.org", "p5@example.org"}))
      << "five from the first list, two from the second, each once";
}

TEST_F(SendQueueTest, ARefusalThatConcernsEveryMessageStopsTheRunAndQueuesNothing) {
  for (Answer answer : {Answer::LoginRefused, Answer::ConnectionRefusedForGood}) {
    ScriptedSender sender({answer});
    EXPECT_THROW(Run(sender, 3), TransportError);
    EXPECT_EQ(sender.asked.size(), 1u);
    EXPECT_EQ(Queued(), 0u) << "a setting to correct; the mailing is sent again from the application";
  }
}

TEST_F(SendQueueTest, AQueuedMessageRefusedForGoodLeavesTheQueue) {
  ScriptedSender first({Answer::LaterMessage, Answer::LaterMessage});
  Run(first, 2);
  ASSERT_EQ(Queued(), 2u);
  ScriptedSender second({Answer::RefuseMessage, Answer::LaterMessage});
  const SendOutcome outcome = Run(second, 0);
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_EQ(outcome.queued, 1);
  EXPECT_EQ(Queued(), 1u);
  EXPECT_NE(inst.LogText().find("still not sent (451 try later)"), std::string::npos) << inst.LogText();
}

TEST_F(SendQueueTest, WithoutAQueueFailuresAreCountedAndALostConnectionStopsTheRun) {
  ScriptedSender later({Answer::LaterMessage, Answer::Accept});
  const SendOutcome outcome = Run(later, 2, false);
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_TRUE(outcome.temporary);
  EXPECT_EQ(outcome.sent, 1);
  ScriptedSender lost({Answer::ConnectionLost});
  EXPECT_THROW(Run(lost, 2, false), TransportError);
  EXPECT_EQ(Queued(), 0u);
}

TEST(RecipientOfMessage, IsTheAddressOfTheOneToHeader) {
  const ComposedMessage message = ComposeMessage(Mailbox{"LvMAPI", "office@example.org"},
                                                 Mailbox{"J\xc3\xbcrgen M\xc3\xbcller", "jm@example.org"}, "S", "b\r\n",
                                                 std::chrono::system_clock::now());
  EXPECT_EQ(RecipientOfMessage(message.data), "jm@example.org");
  for (const char* other : {"", "not a message", "To: a@example.org, b@example.org\r\n\r\nx\r\n",
                            "To: group: a@example.org;\r\n\r\nx\r\n", "Subject: no To\r\n\r\nx\r\n"}) {
    EXPECT_EQ(RecipientOfMessage(other), "") << other;
  }
}

}  // namespace
