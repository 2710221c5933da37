// Operation 4 and the acknowledgement cycle on a real IMAP server: replies
// found by subject, fetched without being marked read, filed under Processed
// only once consumed; automatic mail under Skipped; servers without MOVE; a
// server that goes away in the middle; a mailbox made again.

#include "emailaccess/imap/imap_store.h"
#include "emailaccess/intake.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/sent_register.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace {

using emailaccess_test::ClientOptions;
using emailaccess_test::Holds;
using emailaccess_test::JsonValue;
using emailaccess_test::ReplyText;
using emailaccess_test::ServerTest;
using testing_support::Exists;
using testing_support::ReadFile;

std::string Answer(const std::string& text) { return "My answer:\r\n<answer1>" + text + "</answer1>\r\n"; }

// "<Originator1>a</Originator1>..." → {"a", ...}: the originators in order.
std::vector<std::string> Originators(const std::string& exchange) {
  std::vector<std::string> found;
  for (int n = 1;; ++n) {
    const std::string open = "<Originator" + std::to_string(n) + ">", close = "</Originator" + std::to_string(n) + ">";
    const size_t start = exchange.find(open), end = exchange.find(close);
    if (start == std::string::npos || end == std::string::npos) return found;
    found.push_back(exchange.substr(start + open.size(), end - start - open.size()));
  }
}

class ImapTest : public ServerTest {
 protected:
  // Ann and Bo answer, a robot replies out of office, someone writes about
  // something else, and Cy's answer was already read in a mail program.
  void TheMailboxFillsUp() {
    m_servers->Deliver("INBOX", ReplyText("Ann Lee <ann@example.org>", "Re: Corvane Survey - Spring", Answer("yes")));
    m_servers->Deliver("INBOX", ReplyText("bo@example.org", "AW: corvane survey - spring", Answer("no")));
    m_servers->Deliver("INBOX", "Auto-Submitted: auto-replied\r\n" +
                                    ReplyText("away@example.org", "Automatic reply: Corvane Survey - Spring",
                                              "I am out of the office.\r\n"));
    m_servers->Deliver("INBOX", ReplyText("choir@example.org", "Choir practice", "Thursday at 7.\r\n"));
    m_servers->Deliver("INBOX", ReplyText("cy@example.org", "Re: Corvane Survey - Spring", Answer("maybe")), true);
  }
  std::string Fetch(const std::string& file, int expectedExit = 0) {
    auto run = Run({"4", Bin(file), "Corvane Survey", "0"});
    EXPECT_EQ(run.exitCode, expectedExit) << run.err << Log();
    return Exists(Bin(file)) ? ReadFile(Bin(file)) : std::string("(no file)");
  }
  void Consume(const std::string& file) { ASSERT_EQ(std::remove(Bin(file).c_str()), 0); }
};

TEST_F(ImapTest, CheckLogsInReportsTlsAndFoldersAndChangesNothing) {
  const std::vector<std::pair<ClientOptions, std::vector<std::string>>> cases = {
      {ClientOptions{"smtp", "imaps"}, {"SMTP smtp://127.0.0.1:", ": STARTTLS, TLSv1.", "IMAP imaps://127.0.0.1:",
                                         ": implicit TLS, TLSv1."}},
      {ClientOptions{"smtps", "imap"}, {"SMTP smtps://127.0.0.1:", ": implicit TLS, TLSv1.", "IMAP imap://127.0.0.1:",
                                         ": STARTTLS, TLSv1."}},
  };
  for (const auto& [options, expected] : cases) {
    Configure(options);
    auto check = Run({"--check"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    for (const std::string& part : expected) EXPECT_TRUE(Holds(check.out, part)) << part << "\n" << check.out;
    EXPECT_TRUE(Holds(check.out, "certificate verified, logged in as church, MOVE supported")) << check.out;
    EXPECT_TRUE(Holds(check.out, "INBOX: 0 message(s)")) << check.out;
    EXPECT_TRUE(Holds(check.out, "Processed (Processed): not there yet, created on first use")) << check.out;
    EXPECT_TRUE(Holds(check.out, "password of church from the file")) << check.out;
    EXPECT_FALSE(Holds(check.out + check.err + Log(), "secret")) << "a password is never shown";
  }
  EXPECT_EQ(m_servers->SmtpConnections(), 2) << "one login per check";
  EXPECT_TRUE(m_servers->SmtpRecipients().empty()) << "a check sends nothing";
  EXPECT_TRUE(m_servers->Messages("Processed").empty()) << "a check creates no folder";
}

TEST_F(ImapTest, RepliesAreOfferedUnreadAndFiledOnlyOnceConsumed) {
  Configure();
  TheMailboxFillsUp();
  const std::string first = Fetch("s1.tmp");
  EXPECT_EQ(Originators(first), (std::vector<std::string>{"ann@example.org", "bo@example.org", "cy@example.org"}));
  EXPECT_TRUE(Holds(first, "<Date1>2026-03-02 10:01:00</Date1>\r\n<Body1>My answer:\r\n<answer1>yes</answer1>\r\n"))
      << first;
  // Fetching left the answers unread; the robot's note went to Skipped.
  const auto inbox = m_servers->Messages("INBOX", true);
  EXPECT_EQ(inbox.size(), 4u);
  EXPECT_EQ(std::count_if(inbox.begin(), inbox.end(), [](const std::string& n) { return Holds(n, ":2,S"); }), 1)
      << "only Cy's message, read before, is marked read";
  EXPECT_EQ(m_servers->Messages("Skipped").size(), 1u);
  EXPECT_TRUE(Holds(m_servers->Messages("Skipped")[0], "Automatic reply"));
  EXPECT_TRUE(m_servers->Messages("Processed").empty()) << "nothing is filed before LvMAPI consumed the file";

  // LvMAPI did not consume the file (it failed): everything is offered again.
  const std::string again = Fetch("s2.tmp");
  EXPECT_FALSE(Exists(Bin("s1.tmp")));
  EXPECT_EQ(Originators(again), Originators(first));

  Consume("s2.tmp");
  const std::string third = Fetch("s3.tmp");
  EXPECT_EQ(third, "") << "nothing offered twice";
  const auto processed = m_servers->Messages("Processed", true);
  EXPECT_EQ(processed.size(), 3u);
  EXPECT_EQ(std::count_if(processed.begin(), processed.end(), [](const std::string& n) { return Holds(n, ":2,S"); }),
            3)
      << "filed replies are read";
  EXPECT_EQ(m_servers->Messages("INBOX").size(), 1u);
  EXPECT_TRUE(Holds(m_servers->Messages("INBOX")[0], "Choir practice")) << "other mail is left alone";
}

TEST_F(ImapTest, AServerWithoutMoveGetsCopyDeleteAndExpunge) {
  StartServers(true);
  Configure();
  EXPECT_TRUE(Holds(Run({"--check"}).out, "no MOVE (messages are copied, then expunged)"));
  TheMailboxFillsUp();
  Fetch("s1.tmp");
  EXPECT_EQ(m_servers->Messages("Skipped").size(), 1u);
  Consume("s1.tmp");
  auto acknowledged = Run({"--acknowledge"});
  ASSERT_EQ(acknowledged.exitCode, 0) << acknowledged.err;
  EXPECT_EQ(m_servers->Messages("Processed").size(), 3u);
  // Expunged, not merely marked deleted.
  const auto inbox = m_servers->Messages("INBOX", true);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_FALSE(Holds(inbox[0], "T")) << inbox[0];
  EXPECT_EQ(Fetch("s2.tmp"), "");
}

// Replies are fetched many to a command, a large one and one whose lines
// look like the end of that command among them: every text arrives whole,
// in order, and every reply stays unread.
TEST_F(ImapTest, LargeAndTrickyRepliesArriveWholeAndStayUnread) {
  Configure();
  std::string tricky = "My answer:\r\n<answer1>yes</answer1>\r\n";
  for (char connection : {'A', 'B'}) {
    for (int command = 0; command < 100; ++command) {
      tricky += std::string(1, connection) + (command < 10 ? "00" : "0") + std::to_string(command) + " OK done\r\n";
    }
  }
  tricky += "* 9 FETCH (UID 99 BODY[] {3}\r\n";
  std::string large = "My answer:\r\n<answer1>long</answer1>\r\n";
  while (large.size() < 100 * 1024) large += "A long line of the answer, said again and again and again.\r\n";
  m_servers->Deliver("INBOX", ReplyText("ann@example.org", "Re: Corvane Survey", Answer("first")));
  m_servers->Deliver("INBOX", ReplyText("large@example.org", "Re: Corvane Survey", large));
  m_servers->Deliver("INBOX", ReplyText("tricky@example.org", "Re: Corvane Survey", tricky));
  for (int n = 0; n < 60; ++n) {
    m_servers->Deliver("INBOX", ReplyText("m" + std::to_string(n) + "@example.org", "Re: Corvane Survey",
                                          Answer(std::to_string(n))));
  }
  const std::string exchange = Fetch("s1.tmp");
  const std::vector<std::string> originators = Originators(exchange);
  ASSERT_EQ(originators.size(), 63u) << Log();
  EXPECT_EQ(originators[1], "large@example.org");
  EXPECT_EQ(originators[2], "tricky@example.org");
  EXPECT_EQ(originators[62], "m59@example.org");
  EXPECT_TRUE(Holds(exchange, "<Body2>" + large + "</Body2>")) << "the large one whole";
  EXPECT_TRUE(Holds(exchange, "B099 OK done\r\n* 9 FETCH (UID 99 BODY[] {3}\r\n</Body3>")) << "the tricky one whole";
  EXPECT_TRUE(Holds(exchange, "<Body63>My answer:\r\n<answer1>59</answer1>\r\n</Body63>"));
  EXPECT_TRUE(Holds(Log(), "read 63 message(s) with 1 FETCH command(s), 0 of them on their own; 0 batch(es) refused"))
      << Log();
  const auto inbox = m_servers->Messages("INBOX", true);
  EXPECT_EQ(std::count_if(inbox.begin(), inbox.end(), [](const std::string& n) { return Holds(n, ":2,S"); }), 0)
      << "nothing fetched is marked read";
}

int Unread(const std::vector<std::string>& names) {
  return static_cast<int>(
      std::count_if(names.begin(), names.end(), [](const std::string& n) { return !Holds(n, ":2,S"); }));
}

// Replies of every realistic size, some over 64 KB, in one run: read many
// to a command without a single refusal, none singly.
TEST_F(ImapTest, RepliesOfMixedSizesAreReadManyToACommandAndNoneIsRefused) {
  Configure();
  std::vector<std::string> bodies;
  for (int n = 0; n < 300; ++n) {
    std::string body = Answer(std::to_string(n));
    const size_t size = (4 + (n * 37) % 127) * 1024;  // 4 to 130 KB
    while (body.size() < size) body += "Line " + std::to_string(body.size()) + " of a long reply, said at length.\r\n";
    bodies.push_back(body);
    m_servers->Deliver("INBOX", ReplyText("m" + std::to_string(n) + "@example.org", "Re: Corvane Survey", body));
  }
  const std::string exchange = Fetch("s1.tmp");
  ASSERT_EQ(Originators(exchange).size(), 300u) << Log();
  for (int n : {0, 1, 3, 150, 299}) {
    const std::string tag = std::to_string(n + 1);
    EXPECT_TRUE(Holds(exchange, "<Body" + tag + ">" + bodies[n] + "</Body" + tag + ">")) << n;
  }
  const std::regex summary("read 300 message\\(s\\) with ([0-9]+) FETCH command\\(s\\), 0 of them on their own; "
                           "0 batch\\(es\\) refused");
  std::smatch found;
  const std::string log = Log();
  ASSERT_TRUE(std::regex_search(log, found, summary)) << log;
  EXPECT_LE(std::stoi(found[1]), 30) << "about a megabyte per command";
  EXPECT_EQ(Unread(m_servers->Messages("INBOX", true)), 300);
}

// A connection cut while messages are read, by a batch and alone: the read
// is made again on a new connection, and no message is ever marked read.
TEST_F(ImapTest, ACutReadIsMadeAgainAndEveryReplyStaysUnread) {
  Configure(ClientOptions{.throughProxy = true});
  std::string huge = Answer("huge");
  while (huge.size() < 1200 * 1024) huge += "A very long reply, read on its own, line after line.\r\n";
  m_servers->Deliver("INBOX", ReplyText("ann@example.org", "Re: Corvane Survey", Answer("first")));
  m_servers->Deliver("INBOX", ReplyText("huge@example.org", "Re: Corvane Survey", huge));
  m_servers->Deliver("INBOX", ReplyText("bo@example.org", "Re: Corvane Survey", Answer("last")));
  m_servers->Command("cut-after BODY.PEEK[]");
  EXPECT_EQ(Originators(Fetch("s1.tmp")), (std::vector<std::string>{"ann@example.org", "huge@example.org", "bo@example.org"}));
  m_servers->Command("cut-after UID FETCH 2 BODY.PEEK[]");
  EXPECT_EQ(Originators(Fetch("s2.tmp")).size(), 3u);
  EXPECT_EQ(JsonValue(m_servers->Command("stats"), "cuts"), "2");
  EXPECT_TRUE(Holds(Log(), "failed for now")) << Log();
  EXPECT_EQ(Unread(m_servers->Messages("INBOX", true)), 3);
}

// The next batch is asked for while one is being read. A connection cut
// wherever a batch's answer is on its way, the first or one asked for
// ahead, costs that batch one more command on a new connection; nothing is
// lost, doubled, reordered or marked read.
TEST_F(ImapTest, ACutWhileTheNextBatchIsOnItsWayLosesNothing) {
  Configure(ClientOptions{.throughProxy = true});
  for (int n = 1; n <= 250; ++n) {
    m_servers->Deliver("INBOX", ReplyText("m" + std::to_string(n) + "@example.org", "Re: Corvane Survey",
                                          Answer(std::to_string(n))));
  }
  // A hundred messages to a command: 1:100, 101:200 and 201:250.
  const char* const cuts[] = {"UID FETCH 1:100 BODY", "UID FETCH 101:200 BODY", "UID FETCH 201:250 BODY"};
  int run = 0;
  for (const char* cut : cuts) {
    m_servers->Command(std::string("cut-after ") + cut);
    const std::string exchange = Fetch("s" + std::to_string(++run) + ".tmp");
    const std::vector<std::string> originators = Originators(exchange);
    ASSERT_EQ(originators.size(), 250u) << cut << "\n" << Log();
    for (int n : {1, 100, 101, 200, 201, 250}) {
      EXPECT_EQ(originators[n - 1], "m" + std::to_string(n) + "@example.org") << cut;
    }
    EXPECT_TRUE(Holds(exchange, "<Body250>My answer:\r\n<answer1>250</answer1>\r\n</Body250>")) << cut;
    EXPECT_EQ(JsonValue(m_servers->Command("stats"), "cuts"), std::to_string(run)) << cut;
  }
  const std::string log = Log();
  for (const char* set : {"1:100", "101:200", "201:250"}) {
    EXPECT_TRUE(Holds(log, std::string("fetching UID ") + set + " failed for now")) << log;
  }
  EXPECT_TRUE(Holds(log, "read 250 message(s) with 4 FETCH command(s), 0 of them on their own")) << log;
  EXPECT_EQ(Unread(m_servers->Messages("INBOX", true)), 250);
}

// Without MOVE, filing takes three commands. The answer to UID COPY, then
// the one to \Deleted, is lost after the server carried it out, with no
// retry within the run: the next runs neither copy a second time nor leave
// the message behind marked deleted.
TEST_F(ImapTest, WithoutMoveALostAnswerNeitherDoublesNorStrandsAReply) {
  StartServers(true);
  Configure(ClientOptions{.retries = 0, .throughProxy = true});
  m_servers->Deliver("INBOX", ReplyText("ann@example.org", "Re: Corvane Survey", Answer("yes")));
  m_servers->Deliver("INBOX", ReplyText("bo@example.org", "Re: Corvane Survey", Answer("no")));
  Fetch("s1.tmp");
  Consume("s1.tmp");
  for (const char* cut : {"UID COPY", "(\\Deleted)"}) {
    m_servers->Command(std::string("cut-after ") + cut);
    EXPECT_EQ(Run({"--acknowledge"}).exitCode, 75) << cut << "\n" << Log();
  }
  const auto done = Run({"--acknowledge"});
  EXPECT_EQ(done.exitCode, 0) << done.err << Log();
  EXPECT_EQ(JsonValue(m_servers->Command("stats"), "cuts"), "2");
  EXPECT_EQ(m_servers->Messages("Processed").size(), 2u) << Log();
  EXPECT_TRUE(m_servers->Messages("INBOX").empty()) << Log();
  EXPECT_TRUE(Holds(Log(), "is in Processed already (an earlier copy); not copied again")) << Log();
}

// A store that takes the IMAP server down just before the n-th read.
class StoppingStore : public emailaccess::IMailStore {
 public:
  StoppingStore(emailaccess::IMailStore& inner, emailaccess_test::MailServers& servers, int stopBeforeRead)
      : m_inner(inner), m_servers(servers), m_left(stopBeforeRead) {}
  std::vector<emailaccess::StoredMessage> ListWaiting(const std::string& subject) override {
    return m_inner.ListWaiting(subject);
  }
  bool IsWaiting(const std::string& key) override { return m_inner.IsWaiting(key); }
  std::string Read(const std::string& key) override {
    if (--m_left == 0) m_servers.Command("stop-imap");
    return m_inner.Read(key);
  }
  bool Move(const std::string& key, emailaccess::Folder folder) override { return m_inner.Move(key, folder); }
  void Check(std::vector<emailaccess::CheckFinding>& findings) override { m_inner.Check(findings); }

 private:
  emailaccess::IMailStore& m_inner;
  emailaccess_test::MailServers& m_servers;
  int m_left;
};

TEST_F(ImapTest, AServerStoppedMidRunLosesNothingAndTheNextRunCompletes) {
  Configure();
  TheMailboxFillsUp();
  const emailaccess::Config config =
      emailaccess::ParseConfig(m_servers->ClientConfig(), Bin(""), "test", [](const std::string&) {
        return std::optional<std::string>();
      });
  std::ostringstream errors;
  emailaccess::EventLog log(Bin("LVEmailAccess.log"), errors);
  const emailaccess::FetchRequest request{Bin("s1.tmp"), "Corvane Survey", config.senderAddress,
                                          Bin(emailaccess::kStateFileName), Bin(emailaccess::kSentRegisterFileName),
                                          nullptr, "", 0, true};
  {
    emailaccess::ImapStore store(config, log);
    StoppingStore stopping(store, *m_servers, 2);
    try {
      emailaccess::FetchReplies(stopping, log, request);
      ADD_FAILURE() << "a fetch from a server that went away succeeded";
    } catch (const emailaccess::TransportError& e) {
      EXPECT_TRUE(e.temporary()) << e.what();
      EXPECT_TRUE(e.connectionFailed()) << e.what();
    }
  }
  EXPECT_FALSE(Exists(request.exchangeFile)) << "nothing is offered from a half-read mailbox";
  std::vector<std::string> problems;
  for (const auto& record : emailaccess::LoadOfferRecords(request.statePath, problems)) {
    EXPECT_EQ(record.key, "") << "only the file begun is recorded, no message as offered";
  }
  EXPECT_EQ(m_servers->Messages("INBOX").size(), 5u) << "every message is still there";

  // The program, while the server is away: exit 75, no file.
  auto away = Run({"4", Bin("s2.tmp"), "Corvane Survey", "0"});
  EXPECT_EQ(away.exitCode, 75) << away.err;
  EXPECT_FALSE(Exists(Bin("s2.tmp")));
  EXPECT_TRUE(Holds(away.err, "server out of reach")) << away.err;

  m_servers->Command("start-imap");
  EXPECT_EQ(Originators(Fetch("s3.tmp")),
            (std::vector<std::string>{"ann@example.org", "bo@example.org", "cy@example.org"}));
}

// Keys carry the mailbox's UIDVALIDITY: after the mailbox was made again,
// an old key names no message, and the replies are offered under new keys
// (LvMAPI stores each once) instead of filing whatever now has that UID.
TEST_F(ImapTest, AMailboxMadeAgainIsNeverMistakenForTheOldOne) {
  Configure();
  TheMailboxFillsUp();
  Fetch("s1.tmp");
  Consume("s1.tmp");
  m_servers->Command("renew-uidvalidity");
  const std::string again = Fetch("s2.tmp");
  EXPECT_TRUE(Holds(Log(), "but it is no longer waiting; nothing to move")) << Log();
  EXPECT_TRUE(m_servers->Messages("Processed").empty());
  EXPECT_EQ(Originators(again), (std::vector<std::string>{"ann@example.org", "bo@example.org", "cy@example.org"}));

  // The same, message by message, through the store itself.
  const emailaccess::Config config = emailaccess::ParseConfig(m_servers->ClientConfig(), Bin(""), "test");
  std::ostringstream errors;
  emailaccess::EventLog log("", errors);
  emailaccess::ImapStore store(config, log);
  const auto waiting = store.ListWaiting("Corvane Survey");
  ASSERT_EQ(waiting.size(), 3u);
  auto key = emailaccess::ParseImapKey(waiting[0].key);
  ASSERT_TRUE(key);
  EXPECT_TRUE(store.IsWaiting(waiting[0].key));
  key->uidValidity -= 1;
  const std::string stale = emailaccess::FormatImapKey(*key);
  EXPECT_FALSE(store.IsWaiting(stale));
  EXPECT_FALSE(store.Move(stale, emailaccess::Folder::Processed));
  try {
    store.Read(stale);
    ADD_FAILURE() << "a message was read under a stale key";
  } catch (const emailaccess::TransportError& e) {
    EXPECT_FALSE(e.connectionFailed()) << e.what();
  }
  EXPECT_TRUE(Holds(store.Read(waiting[0].key), "ann@example.org"));

  // Made again between listing and reading: the listed keys read nothing.
  const auto listed = store.ListWaiting("Corvane Survey");
  ASSERT_EQ(listed.size(), 3u);
  m_servers->Command("renew-uidvalidity");
  for (const auto& message : listed) {
    try {
      store.Read(message.key);
      ADD_FAILURE() << message.key << " was read from the mailbox made again";
    } catch (const emailaccess::TransportError& e) {
      EXPECT_FALSE(e.connectionFailed()) << e.what();
    }
  }
}

}  // namespace
