// The built LVEmailAccess killed (SIGKILL) while it sends one survey to 100
// recipients into the outbox Maildir: its log names exactly the recipients
// whose message is in the outbox, every message there is whole, and what was
// being written when it died is only in tmp/.
//
// The body is large, so that each message takes a while to compose and to
// write; the program is killed as soon as its log shows a given number of
// messages sent, which lands while the next message is being made. Sending
// it again then reaches the others, and nobody twice.

#include "email_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using testing_support::ReadFile;

constexpr int kRecipients = 100;
const char kSubject[] = "Corvane Survey - Interrupted drill";
const char kBodyEnd[] = "END OF THE SURVEY BODY";

std::string Address(int n) { return "member" + std::to_string(n) + "@example.org"; }

// The outgoing exchange file as LvMAPI writes it.
std::string ExchangeText() {
  std::string text;
  for (int n = 1; n <= kRecipients; ++n) {
    const std::string i = std::to_string(n);
    text += "<Recipient" + i + ">Member " + i + "</Recipient" + i + ">\r\n";
    text += "<Email" + i + ">" + Address(n) + "</Email" + i + ">\r\n";
  }
  text += "<Body>";
  for (int line = 0; line < 12000; ++line) text += "Question line " + std::to_string(line) + " of a long survey.\r\n";
  return text + kBodyEnd + "</Body>";
}

struct SentLine {
  std::string address;
  std::string path;
};

// The "sent to" lines of the log: the address and the delivered file.
std::vector<SentLine> SentLines(const std::string& log) {
  static const std::regex sent(R"( sent to Member \d+ <([^>]+)>, subject ".*", Message-ID <[^>]+>, (\S+)$)");
  std::vector<SentLine> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, sent)) lines.push_back({m[1], m[2]});
  }
  return lines;
}

class InterruptedSend : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_dir.path());
    testing_support::WriteFile(m_exchange, ExchangeText());
  }
  std::vector<std::string> Args() const { return {"2", m_exchange, kSubject, "0"}; }
  std::string Log() const { return ReadFile(m_dir.file("LVEmailAccess.log")); }
  std::string Outbox(const std::string& sub) const { return m_dir.file("Mail/Outbox/" + sub); }

  testing_support::ScratchDir m_dir;
  std::string m_exchange = m_dir.file("0D3B7A52-1C4E-4F7A-9B2D-5E6F7A8B9C0D.tmp");
};

TEST_F(InterruptedSend, TheLogNamesExactlyTheMessagesInTheOutboxAndNoneIsHalfWritten) {
  constexpr std::size_t kKillAfter = 37;
  {
    testing_support::ChildProcess sender(m_dir.file("LVEmailAccess"), Args());
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return SentLines(Log()).size() >= kKillAfter || !sender.Running(); }));
    ASSERT_TRUE(sender.Running()) << "it sent everything before it could be killed";
    sender.Kill();
    ASSERT_EQ(sender.Wait().signal, testing_support::kKilledSignal);
  }

  const std::vector<SentLine> sent = SentLines(Log());
  ASSERT_GE(sent.size(), kKillAfter);
  ASSERT_LT(sent.size(), static_cast<std::size_t>(kRecipients));
  // The log names the recipients in list order, each once, and its last
  // "sent" line is the last thing it wrote: no summary, it died.
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].address, Address(static_cast<int>(i) + 1));
  EXPECT_EQ(Log().find(" done: "), std::string::npos);

  // Every message in new/ has its log line and every log line its message.
  std::set<std::string> logged, delivered;
  // Compared as the system writes paths: a Windows log joins its folders
  // with either separator.
  for (const SentLine& line : sent) logged.insert(testing_support::NativePath(line.path));
  for (const std::string& name : testing_support::ListFolder(Outbox("new"))) {
    delivered.insert(testing_support::NativePath(Outbox("new/") + name));
  }
  EXPECT_EQ(delivered, logged);
  EXPECT_TRUE(testing_support::ListFolder(Outbox("cur")).empty());

  // Each is whole and is for the recipient its log line names.
  for (const SentLine& line : sent) {
    const std::string message = ReadFile(line.path);
    EXPECT_NE(message.find("To: Member " + std::to_string(&line - sent.data() + 1) + " <" + line.address + ">\r\n"),
              std::string::npos)
        << line.path;
    EXPECT_NE(message.find(kBodyEnd), std::string::npos) << "cut short: " << line.path;
  }
  // What was being written when it died stays in tmp/, where no reader looks.
  EXPECT_LE(testing_support::ListFolder(Outbox("tmp")).size(), 1u);

  // Sending the survey again reaches everyone who has none of it yet, and
  // nobody twice. A message the kill caught while it was being handed over
  // counts as probably delivered: it is named in the log, not sent again.
  const auto again = testing_support::Run(m_dir.file("LVEmailAccess"), Args());
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find(" already have it or have it coming, "), std::string::npos) << again.out;
  std::map<std::string, int> copies;
  for (const SentLine& line : SentLines(Log())) ++copies[line.address];
  int missing = 0;
  for (int n = 1; n <= kRecipients; ++n) {
    EXPECT_LE(copies[Address(n)], 1) << Address(n);
    if (copies[Address(n)] > 0) continue;
    ++missing;
    EXPECT_NE(Log().find(Address(n) + " (operation 2 " + kSubject + ") was being handed over when an earlier run was cut short"),
              std::string::npos)
        << Log();
  }
  EXPECT_LE(missing, 1);
  EXPECT_EQ(testing_support::ListFolder(Outbox("new")).size(), static_cast<std::size_t>(kRecipients - missing));
}

}  // namespace
