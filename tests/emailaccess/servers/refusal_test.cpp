// What the servers refuse: a wrong password, a certificate from an unknown
// authority. A clear message, an exit status that says what to do, and
// nothing changed; a password never appears anywhere.

#include "server_fixture.h"

#include <gtest/gtest.h>

namespace {

using emailaccess_test::ClientOptions;
using emailaccess_test::Holds;
using emailaccess_test::ReplyText;
using emailaccess_test::ServerTest;
using testing_support::Exists;

class RefusalTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    m_servers->Deliver("INBOX", ReplyText("ann@example.org", "Re: Corvane Survey - Spring", "<answer1>yes</answer1>\r\n"));
  }
  // Everything a run can leave behind, to compare before and after.
  std::string Footprint() {
    std::string text;
    for (const auto& name : m_servers->Messages("INBOX", true)) text += "INBOX " + name + "\n";
    for (const char* folder : {"Processed", "Skipped", "Delivered"}) {
      text += std::string(folder) + " " + std::to_string(m_servers->Messages(folder).size()) + "\n";
    }
    text += "queued " + std::to_string(Queued()) + "\n";
    text += Exists(Bin("LVEmailAccess.state")) ? "state\n" : "";
    text += Exists(Bin("in.tmp")) ? "exchange file\n" : "";
    return text;
  }
  std::string Send() { return WriteOutgoing({{"Ann Lee", "ann@example.org"}, {"Bo", "bo@example.org"}}); }
};

TEST_F(RefusalTest, AWrongPasswordIsRefusedClearlyAndChangesNothing) {
  struct Case {
    const char* side;
    ClientOptions options;
    std::vector<std::string> args;
  };
  ClientOptions wrongSmtp, wrongImap;
  wrongSmtp.smtpPassword = "wrong-smtp-pass";
  wrongImap.imapPassword = "wrong-imap-pass";
  const Case cases[] = {
      {"SMTP", wrongSmtp, {"2", Send(), "Corvane Survey - Spring", "0"}},
      {"IMAP", wrongImap, {"4", Bin("in.tmp"), "Corvane Survey", "0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Configure(c.options);
    const std::string before = Footprint();
    auto run = Run(c.args);
    EXPECT_EQ(run.exitCode, 78) << "a setting to correct";
    EXPECT_TRUE(Holds(run.err, std::string(c.side) + " ")) << run.err;
    EXPECT_TRUE(Holds(run.err, "the server refused the login of user church")) << run.err;
    EXPECT_TRUE(Holds(run.err, "check the user name and password")) << run.err;
    EXPECT_EQ(Footprint(), before);
    const std::string everything = run.out + run.err + Log();
    EXPECT_FALSE(Holds(everything, "wrong-")) << "the password given";
    EXPECT_FALSE(Holds(everything, "secret")) << "the other password";
  }
  auto check = Run({"--check"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_TRUE(Holds(check.out, "PROBLEM  IMAP imaps://127.0.0.1:")) << check.out;
  EXPECT_FALSE(Holds(check.out + check.err, "wrong-imap-pass"));

  // Filing consumed replies with the wrong password: refused, and still to
  // do once the password is right.
  Configure();
  ASSERT_EQ(Run({"4", Bin("in.tmp"), "Corvane Survey", "0"}).exitCode, 0);
  ASSERT_EQ(std::remove(Bin("in.tmp").c_str()), 0);
  Configure(wrongImap);
  const std::string consumed = Footprint();
  EXPECT_EQ(Run({"--acknowledge"}).exitCode, 78);
  EXPECT_EQ(Footprint(), consumed);
  Configure();
  EXPECT_EQ(Run({"--acknowledge"}).exitCode, 0);
  EXPECT_EQ(m_servers->Messages("Processed").size(), 1u);
}

TEST_F(RefusalTest, ThePasswordFromTheEnvironmentWins) {
  ClientOptions options;
  options.smtpPassword = "wrong-smtp-pass";
  options.imapPassword = "";  // none in the file
  Configure(options);
  const std::map<std::string, std::string> env = {{"LVEMAILACCESS_SMTP_PASSWORD", "secret"},
                                                  {"LVEMAILACCESS_IMAP_PASSWORD", "secret"}};
  auto sent = Run({"2", Send(), "Corvane Survey - Spring", "0"}, env);
  EXPECT_EQ(sent.exitCode, 0) << sent.err;
  auto fetched = Run({"4", Bin("in.tmp"), "Corvane Survey", "0"}, env);
  EXPECT_EQ(fetched.exitCode, 0) << fetched.err;
  EXPECT_TRUE(Holds(testing_support::ReadFile(Bin("in.tmp")), "<Originator1>ann@example.org</Originator1>"));
  auto missing = Run({"4", Bin("in2.tmp"), "Corvane Survey", "0"});
  EXPECT_EQ(missing.exitCode, 78);
  EXPECT_TRUE(Holds(missing.err, "[imap] user church has no password: set password = or LVEMAILACCESS_IMAP_PASSWORD"))
      << missing.err;
}

TEST_F(RefusalTest, ACertificateFromAnUnknownAuthorityIsRefused) {
  ClientOptions options;
  options.trustServerCa = false;  // the system's authorities only
  Configure(options);
  const std::string before = Footprint();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"2", Send(), "Corvane Survey - Spring", "0"},
                                               std::vector<std::string>{"4", Bin("in.tmp"), "Corvane Survey", "0"}}) {
    auto run = Run(args);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_TRUE(Holds(run.err, "the server's certificate is not trusted")) << run.err;
    EXPECT_TRUE(Holds(run.err, "set [tls] ca_file")) << run.err;
    EXPECT_FALSE(Holds(Log(), "trying again")) << "a refused certificate does not pass by waiting";
  }
  EXPECT_EQ(Footprint(), before);
  EXPECT_EQ(m_servers->SmtpRecipients().size(), 0u);
  auto check = Run({"--check"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_TRUE(Holds(check.out, "PROBLEM  SMTP smtp://127.0.0.1:")) << check.out;
}

TEST_F(RefusalTest, TurningVerificationOffWorksButWarnsOnEveryRun) {
  ClientOptions options;
  options.trustServerCa = false;
  options.verify = false;
  Configure(options);
  EXPECT_EQ(Run({"2", Send(), "Corvane Survey - Spring", "0"}).exitCode, 0);
  EXPECT_EQ(Run({"4", Bin("in.tmp"), "Corvane Survey", "0"}).exitCode, 0);
  EXPECT_EQ(m_servers->SmtpRecipients().size(), 2u);
  const std::string log = Log();
  size_t warnings = 0;
  for (size_t pos = log.find("WARNING server certificates are not verified"); pos != std::string::npos;
       pos = log.find("WARNING server certificates are not verified", pos + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 2u) << log;
  EXPECT_TRUE(Holds(Run({"--check"}).out, "certificate NOT verified"));
}

}  // namespace
