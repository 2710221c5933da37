// The built LVEmailAccess program, run as LvMAPI and people run it, from a
// copied installation folder.

#include "email_test_support.h"
#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

namespace {

using emailaccess_test::MaildirMessages;
using emailaccess_test::PlaceMessage;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::CopyInstall(dir.path()); }

  RunResult Run(const std::vector<std::string>& args) {
    return testing_support::Run(dir.file("LVEmailAccess"), args, {{"TZ", "UTC"}});
  }
  std::string Log() { return ReadFile(dir.file("LVEmailAccess.log")); }
  std::string Mail(const std::string& folder) { return dir.file("Mail/" + folder); }

  testing_support::ScratchDir dir;
};

// The field with which a mail program's reply names the message `sent`.
std::string InReplyTo(const std::string& sent) {
  const size_t id = sent.find("Message-ID: ") + 12;
  return "In-Reply-To: " + sent.substr(id, sent.find('\r', id) - id) + "\r\n";
}

TEST_F(ProgramTest, HelpAndVersionNeedNothingElse) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: LVEmailAccess <operation> <exchange file> <subject> <flag>"), std::string::npos);
  RunResult version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("LVEmailAccess \\d+\\.\\d+\\.\\d+\n"))) << version.out;
  EXPECT_FALSE(Exists(dir.file("Mail")));
}

TEST_F(ProgramTest, BadArgumentsExit64WithUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"2", "x.tmp", "subject"},
      {"3", "x.tmp", "subject", "0"},
      {"two", "x.tmp", "subject", "0"},
      {"2", "x.tmp", "subject", "2"},
      {"2", "", "subject", "0"},
      {"4", "x.tmp", "", "0"},
      {"--chek"},
  };
  for (const auto& args : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 64) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
  }
  EXPECT_NE(Log().find("ERROR bad arguments: unknown operation '3'"), std::string::npos);
  EXPECT_FALSE(Exists(dir.file("Mail")));
}

TEST_F(ProgramTest, BadConfigurationExits78AndTouchesNothing) {
  WriteFile(dir.file("LVEmailAccess.conf"), "[general]\nsender = LvMAPI <lvmapi@localhost>\nsendr = typo@x.org\n");
  WriteFile(dir.file("out.tmp"), "<Recipient1>A</Recipient1><Email1>a@example.org</Email1><Body>b</Body>");
  RunResult r = Run({"2", dir.file("out.tmp"), "Corvane Survey - X", "0"});
  EXPECT_EQ(r.exitCode, 78);
  EXPECT_NE(r.err.find("LVEmailAccess.conf, line 3: unknown setting 'sendr'"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"--check"}).exitCode, 78);
  EXPECT_FALSE(Exists(dir.file("Mail")));
}

// Outlook is asked for by the setting or by LvMAPI's flag 1 (setting 8); a
// system without it says so and touches no mailbox.
TEST_F(ProgramTest, OutlookAskedForWithoutOutlookExits78AndTouchesNothing) {
  WriteFile(dir.file("out.tmp"), "<Recipient1>A</Recipient1><Email1>a@example.org</Email1><Body>b</Body>");
  const std::string outlook = "[general]\ntransport = outlook\n";
  struct Case {
    std::string conf;
    std::vector<std::string> args;
  } cases[] = {
      {outlook, {"2", dir.file("out.tmp"), "Corvane Survey - X", "0"}},
      {outlook, {"4", dir.file("in.tmp"), "Corvane Survey", "0"}},
      {outlook, {"--check"}},
      {"", {"4", dir.file("in.tmp"), "Corvane Survey", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.conf);
    WriteFile(dir.file("LVEmailAccess.conf"), c.conf);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 78);
    EXPECT_NE(r.err.find("needs Outlook on Windows"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.file("in.tmp")));
    EXPECT_FALSE(Exists(dir.file("Mail")));
  }
}

TEST_F(ProgramTest, CheckSaysWhatItFound) {
  RunResult fresh = Run({"--check"});
  EXPECT_EQ(fresh.exitCode, 0) << fresh.out;
  EXPECT_NE(fresh.out.find("Configuration: embedded default"), std::string::npos);
  EXPECT_NE(fresh.out.find("Sender: LvMAPI <lvmapi@localhost>"), std::string::npos);
  EXPECT_NE(fresh.out.find("Inbox (" + Mail("Inbox") + "): not there yet, created on first use"), std::string::npos);
  EXPECT_FALSE(Exists(dir.file("Mail"))) << "checking creates nothing";

  std::filesystem::create_directories(dir.file("Mail"));
  WriteFile(Mail("Skipped"), "a file where a folder belongs");
  RunResult broken = Run({"--check"});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_NE(broken.out.find("PROBLEM  Skipped (" + Mail("Skipped") + "): exists but is not a folder"), std::string::npos)
      << broken.out;
}

TEST_F(ProgramTest, MissingExchangeFileFailsWithTheReason) {
  RunResult r = Run({"2", dir.file("missing.tmp"), "Corvane Survey - X", "0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot read the exchange file"), std::string::npos) << r.err;
  EXPECT_NE(Log().find("ERROR cannot read the exchange file"), std::string::npos);
}

// A file whose recipient elements do not pair up one to one could send one
// person's message to another's address: none of it is sent, and the
// office learns which file and why.
TEST_F(ProgramTest, AFileWhoseRecipientsDoNotPairUpSendsNothingAndExits65) {
  const std::pair<std::string, std::string> cases[] = {
      {"<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Recipient2>Bo</Recipient2>",
       "Recipient2 without Email2"},
      {"<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Email2>bo@example.org</Email2>",
       "Email2 without Recipient2"},
      {"<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Recipient1>Bo</Recipient1>"
       "<Email2>bo@example.org</Email2>",
       "Recipient1 twice"},
      {"<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1>"
       "<Recipient3>Cy</Recipient3><Email3>cy@example.org</Email3>",
       "no recipient 2"},
  };
  for (const auto& [head, why] : cases) {
    WriteFile(dir.file("out.tmp"), head + "<Body>Dear member</Body>");
    const RunResult r = Run({"2", dir.file("out.tmp"), "Corvane Survey - X", "0"});
    EXPECT_EQ(r.exitCode, 65) << head;
    const std::string said = dir.file("out.tmp") + ": nothing sent: the recipient elements do not pair up: " + why;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_NE(Log().find("ERROR " + said), std::string::npos) << Log();
    EXPECT_TRUE(MaildirMessages(Mail("Outbox")).empty()) << head;
  }
}

TEST_F(ProgramTest, ABusyIntakeIsATemporaryFailure) {
  WriteFile(dir.file("LVEmailAccess.conf"), "[general]\nlock_wait_seconds = 0\n");
  platform::FileLock held;
  ASSERT_EQ(held.Acquire(dir.file("LVEmailAccess.lock"), std::chrono::milliseconds(0)), platform::FileLock::Result::Acquired);
  RunResult r = Run({"4", dir.file("in.tmp"), "Corvane Survey", "0"});
  EXPECT_EQ(r.exitCode, 75);
  EXPECT_FALSE(Exists(dir.file("in.tmp")));
  EXPECT_NE(Log().find("another intake is running"), std::string::npos);
}

// The whole road: LvMAPI hands over a mailing, people answer, LvMAPI fetches
// and consumes the replies, and the next run files them under Processed.
TEST_F(ProgramTest, SendReplyFetchAndAcknowledge) {
  WriteFile(dir.file("out.tmp"),
            "<Recipient1>Ann Lee</Recipient1>\r\r\n<Email1>ann@example.org</Email1>\r\r\n"
            "<Recipient2>Bo Berg</Recipient2>\r\r\n<Email2>bo@example.org</Email2>\r\r\n"
            "<Body>Dear member,\r\r\n<answer1></answer1>\r\r\n</Body>");
  RunResult sent = Run({"2", dir.file("out.tmp"), "Corvane Survey - Spring", "0"});
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  const auto outbox = MaildirMessages(Mail("Outbox"));
  ASSERT_EQ(outbox.size(), 2u);

  // Each person answers by replying to the message they received.
  int arrival = 1772445600;
  for (const std::string& name : outbox) {
    std::string message = ReadFile(Mail("Outbox") + "/new/" + name);
    const std::string person = message.find("ann@example.org") != std::string::npos ? "ann@example.org" : "bo@example.org";
    message.replace(message.find("From: LvMAPI <lvmapi@localhost>"), 31, "From: " + person);
    message.replace(message.find("Subject: "), 9, "Subject: Re: ");
    message.replace(message.find("Auto-Submitted: auto-generated\r\n"), 32, "");
    message.replace(message.find("<answer1></answer1>"), 19, "<answer1>from " + person + "</answer1>");
    message = InReplyTo(message) + message;
    PlaceMessage(Mail("Inbox"), "reply-" + name, message, arrival++);
  }

  RunResult fetched = Run({"4", dir.file("in.tmp"), "Corvane Survey", "0"});
  ASSERT_EQ(fetched.exitCode, 0) << fetched.err;
  EXPECT_EQ(fetched.out, "") << "standard output carries only what LvMAPI copies into its log";
  const std::string incoming = ReadFile(dir.file("in.tmp"));
  EXPECT_NE(incoming.find("<Body1>Dear member,\r\n<answer1>from "), std::string::npos) << incoming;
  // The replies keep the Date their mail program gave them (here: when sent).
  EXPECT_TRUE(std::regex_search(incoming, std::regex("<Date1>\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}</Date1>\r\n")));
  EXPECT_NE(incoming.find("<Originator2>"), std::string::npos);

  ASSERT_EQ(std::remove(dir.file("in.tmp").c_str()), 0);  // LvMAPI consumed it
  RunResult acknowledged = Run({"--acknowledge"});
  ASSERT_EQ(acknowledged.exitCode, 0) << acknowledged.err;
  EXPECT_EQ(MaildirMessages(Mail("Processed")).size(), 2u);
  EXPECT_TRUE(MaildirMessages(Mail("Inbox")).empty());
  RunResult next = Run({"4", dir.file("again.tmp"), "Corvane Survey", "0"});
  ASSERT_EQ(next.exitCode, 0) << next.err;
  EXPECT_EQ(ReadFile(dir.file("again.tmp")), "") << "nothing is offered twice";

  // Every log line is one event with an ISO 8601 time stamp.
  std::istringstream lines(Log());
  std::string line;
  int count = 0;
  const std::regex stamped("\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}[+-]\\d{2}:\\d{2} .+");
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ++count;
  }
  EXPECT_GE(count, 8);
}

// The one line of standard output, which LvMAPI copies into its run log,
// says where the mailing went, and with local folders that nothing left.
TEST_F(ProgramTest, AMailingTellsWhereItWentInPlainWords) {
  struct Case {
    const char* conf;  // null: none
    std::string line;
  };
  const Case cases[] = {
      {nullptr, "2 delivered into the local folder " + Mail("Outbox") +
                    ": no mail provider is set up, nothing has left this computer\n"},
      {"[general]\ntransport = maildir\n", "2 delivered into the local folder " + Mail("Outbox") +
                                                ": nothing has left this computer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conf ? c.conf : "no settings file");
    std::remove(dir.file("LVEmailAccess.conf").c_str());
    if (c.conf) WriteFile(dir.file("LVEmailAccess.conf"), c.conf);
    WriteFile(dir.file("out.tmp"), "<Recipient1>Ann Lee</Recipient1>\r\n<Email1>ann@example.org</Email1>\r\n"
                                   "<Recipient2></Recipient2>\r\n<Email2>bo@example.org</Email2>\r\n<Body>Hi</Body>");
    // A mailing of its own each time: the same one again would reach nobody twice.
    const RunResult sent = Run({"2", dir.file("out.tmp"), "Corvane Survey - " + std::to_string(&c - cases), "0"});
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(sent.out, c.line);
    EXPECT_NE(Log().find(c.line.substr(0, c.line.size() - 1)), std::string::npos);
  }
}

// A ledger that cannot be read stops the mailing before anything goes: a
// guess could mail someone twice.
TEST_F(ProgramTest, ADamagedLedgerSendsNothing) {
  WriteFile(dir.file("LVEmailAccess.ledger"), "survey {1}\tann@example.org\tmailed\t1\t1\t\n");
  WriteFile(dir.file("out.tmp"), "<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Body>Hi</Body>");
  const RunResult sent = Run({"2", dir.file("out.tmp"), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(sent.exitCode, 1);
  EXPECT_NE(sent.err.find(dir.file("LVEmailAccess.ledger") + ", line 1"), std::string::npos) << sent.err;
  EXPECT_TRUE(MaildirMessages(Mail("Outbox")).empty());
}

// Every folder and file below `root`, with its permission bits in octal.
std::map<std::string, std::string> Modes(const std::string& root) {
  std::map<std::string, std::string> modes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(entry.status().permissions()));
    modes[entry.path().string().substr(root.size())] = octal;
  }
  return modes;
}

// People's replies and the list of who was written to stay private on a
// shared computer, whatever the umask the program was started with.
TEST_F(ProgramTest, WhatItCreatesIsReadableByItsOwnerOnly) {
  const mode_t umaskBefore = umask(022);
  WriteFile(dir.file("out.tmp"), "<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Body>Hi</Body>");
  ASSERT_EQ(Run({"2", dir.file("out.tmp"), "Corvane Survey - Spring", "0"}).exitCode, 0);
  ASSERT_EQ(Run({"4", dir.file("in.tmp"), "Corvane Survey", "0"}).exitCode, 0);
  // Delivered readable to all, as a delivery agent under umask 022 does.
  const std::string sent = ReadFile(Mail("Outbox") + "/new/" + MaildirMessages(Mail("Outbox"))[0]);
  PlaceMessage(Mail("Inbox"), "1.reply",
               InReplyTo(sent) + "From: ann@example.org\nSubject: Re: Corvane Survey - Spring\n\nyes", 1772400000);
  PlaceMessage(Mail("Inbox"), "2.away", emailaccess_test::Fixture("out_of_office.eml"), 1772400001);
  ASSERT_EQ(Run({"4", dir.file("in.tmp"), "Corvane Survey", "0"}).exitCode, 0);
  EXPECT_EQ(Modes(dir.path())["/in.tmp"], "600");
  std::remove(dir.file("in.tmp").c_str());
  ASSERT_EQ(Run({"--acknowledge"}).exitCode, 0);
  // With servers, what cannot be sent waits in the queue.
  WriteFile(dir.file("LVEmailAccess.conf"),
            "[general]\ntransport = smtp+imap\n[network]\nretries = 0\n"
            "[smtp]\nurl = smtp://127.0.0.1:9\nuser = u\npassword = p\n[imap]\nurl = imap://127.0.0.1:9/INBOX\nuser = u\npassword = p\n");
  const RunResult queued = Run({"2", dir.file("out.tmp"), "Corvane Survey - Summer", "0"});
  ASSERT_EQ(queued.exitCode, 75) << queued.err;
  umask(umaskBefore);

  const auto modes = Modes(dir.path());
  int checked = 0;
  for (const auto& [path, mode] : modes) {
    const bool created = path.starts_with("/Mail") || path.starts_with("/LVEmailAccess.") || path == "/in.tmp";
    if (!created || path == "/LVEmailAccess.conf") continue;
    const bool folder = std::filesystem::is_directory(dir.path() + path);
    EXPECT_EQ(mode, folder ? "700" : "600") << path;
    ++checked;
  }
  for (const char* path : {"/LVEmailAccess.log", "/LVEmailAccess.state", "/LVEmailAccess.lock", "/LVEmailAccess.ledger", "/Mail/Queue/new",
                           "/Mail/Outbox/new", "/Mail/Processed/cur", "/Mail/Skipped/cur"}) {
    EXPECT_TRUE(modes.contains(path)) << path;
  }
  EXPECT_EQ(MaildirMessages(Mail("Processed")).size() + MaildirMessages(Mail("Skipped")).size(), 2u);
  EXPECT_GE(checked, 20);
}

TEST_F(ProgramTest, FoldersMadeBeforeKeepTheirMode) {
  std::filesystem::create_directories(Mail("Inbox"));
  for (const std::string& folder : {dir.file("Mail"), Mail("Inbox")}) chmod(folder.c_str(), 0750);
  WriteFile(dir.file("out.tmp"), "<Recipient1>Ann</Recipient1><Email1>ann@example.org</Email1><Body>Hi</Body>");
  ASSERT_EQ(Run({"2", dir.file("out.tmp"), "Corvane Survey - Spring", "0"}).exitCode, 0);
  ASSERT_EQ(Run({"4", dir.file("in.tmp"), "Corvane Survey", "0"}).exitCode, 0);
  const auto modes = Modes(dir.path());
  EXPECT_EQ(modes.at("/Mail"), "750");
  EXPECT_EQ(modes.at("/Mail/Inbox"), "750");
  EXPECT_EQ(modes.at("/Mail/Inbox/new"), "700") << "made by the program";
  EXPECT_EQ(modes.at("/Mail/Outbox"), "700");
}

}  // namespace
