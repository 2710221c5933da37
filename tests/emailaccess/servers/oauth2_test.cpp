// Signing in with OAuth 2.0 against a stand-in provider on 127.0.0.1, with
// Dovecot and the SMTP server checking its tokens: both sign-in flows,
// renewal, rotation, revocation, a provider out of reach, token_command, a
// run killed while renewing, and no token ever shown.

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <regex>

namespace {

using emailaccess_test::ClientOptions;
using emailaccess_test::Holds;
using emailaccess_test::JsonStrings;
using emailaccess_test::JsonValue;
using testing_support::ReadFile;
using testing_support::RunResult;

constexpr const char kSecret[] = "client-secret-2718";

class OAuth2Test : public emailaccess_test::ServerTest {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_dir.file("bin"));
    StartServers(false, true);
  }
  std::string Service(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_servers->token) + path;
  }
  void ConfigureFlow(const std::string& flow) {
    ClientOptions options;
    options.oauth2Section = "provider = custom\nclient_id = lv-test-client\nclient_secret = " + std::string(kSecret) +
                            "\ntoken_url = " + Service("/token") + "\n" +
                            (flow == "device" ? "device_url = " + Service("/device") : "authorize_url = " + Service("/authorize")) + "\n";
    Configure(options);
  }
  // --authorize, with the test as the person: it types the shown code at
  // the provider, or opens the shown address in a "browser".
  void SignIn(const std::string& flow = "device") {
    ConfigureFlow(flow);
    testing_support::ChildProcess program(Bin("LVEmailAccess"), {"--authorize"}, {}, m_dir.path());
    std::smatch shown;
    std::string out;  // what `shown` points into
    const std::regex pattern(flow == "device" ? "enter the code (\\S+)" : "\n(http://\\S+authorize\\S+)\n");
    ASSERT_TRUE(testing_support::WaitUntil([&] {
      out = program.OutputSoFar();
      return std::regex_search(out, shown, pattern);
    }));
    m_servers->Command("token " + std::string(flow == "device" ? "approve " : "browse ") + shown[1].str());
    Expect(program.Wait(), 0);
  }
  void Expect(const RunResult& run, int exitCode) {
    EXPECT_EQ(run.exitCode, exitCode) << run.out << run.err << Log();
    m_outputs += run.out + run.err;
  }
  int Count(const std::string& what) { return std::stoi(JsonValue(m_servers->Command("token stats"), what)); }
  int Delivered() { return std::stoi(JsonValue(m_servers->Command("stats"), "delivered")); }
  // A mailing of its own each time: one mailing is never sent to Ann twice.
  void Send(int exitCode) {
    const std::string subject = "Corvane Survey - S" + std::to_string(++m_mailings);
    Expect(Run({"2", WriteOutgoing({{"Ann", "ann@example.org"}}), subject, "0"}), exitCode);
  }
  void Fetch(int exitCode) { Expect(Run({"4", Bin("in.tmp"), "Corvane Survey", "0"}), exitCode); }
  std::string TokenFile() const { return ReadFile(Bin("LVEmailAccess.token")); }
  int m_mailings = 0;

  void TearDown() override {
    // No token in any output, log or file but the token file, which stays private.
    const std::string shown = m_outputs + Log() + (testing_support::Exists(Bin("LvMAPI.log")) ? ReadFile(Bin("LvMAPI.log")) : "");
    EXPECT_FALSE(Holds(shown, kSecret)) << "the client secret was shown";
    for (const std::string& token : JsonStrings(m_servers->Command("token stats"), "issued")) {
      EXPECT_FALSE(Holds(shown, token)) << "a token was shown";
    }
    struct stat status {};
    if (stat(Bin("LVEmailAccess.token").c_str(), &status) == 0) {
      EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
  }
  std::string m_outputs;
};

TEST_F(OAuth2Test, EachSignInFlowLetsASurveyGoOutAndRepliesComeIn) {
  for (const std::string flow : {"device", "browser"}) {
    SCOPED_TRACE(flow);
    std::remove(Bin("LVEmailAccess.token").c_str());
    SignIn(flow);
    const int before = Delivered();
    Send(0);
    EXPECT_EQ(Delivered(), before + 1);
    m_servers->Deliver("INBOX", emailaccess_test::ReplyText("ann@example.org", "Re: Corvane Survey - S", "yes\r\n"));
    Fetch(0);
    EXPECT_TRUE(Holds(ReadFile(Bin("in.tmp")), "ann@example.org"));
    std::remove(Bin("in.tmp").c_str());
    Expect(Run({"--acknowledge"}), 0);
  }
}

TEST_F(OAuth2Test, AnExpiredTokenIsRenewedOncePerRunAndARotatedRefreshTokenKept) {
  m_servers->Command("token expires-in 100");  // within the renewal margin at once
  m_servers->Command("token rotate on");
  SignIn();
  for (int run = 1; run <= 2; ++run) {
    const std::string before = TokenFile();
    Send(0);
    m_servers->Deliver("INBOX", emailaccess_test::ReplyText("bo@example.org", "Re: Corvane Survey - S", "no\r\n"));
    EXPECT_EQ(Count("refresh"), 2 * run - 1) << "one renewal for a run that uses SMTP";
    Fetch(0);
    EXPECT_EQ(Count("refresh"), 2 * run) << "and one for a run that uses IMAP";
    EXPECT_NE(TokenFile(), before);
    std::remove(Bin("in.tmp").c_str());
  }
}

TEST_F(OAuth2Test, ATokenTheServerRefusesIsRenewedOnceThenTheRunEndsWith78AndNothingMoves) {
  SignIn();
  m_servers->Command("token revoke-access");
  Send(0);
  EXPECT_EQ(Count("refresh"), 1);
  m_servers->Deliver("INBOX", emailaccess_test::ReplyText("cy@example.org", "Re: Corvane Survey - S", "yes\r\n"));
  m_servers->Command("token revoke");
  const int before = Delivered();
  Send(78);
  Fetch(78);
  EXPECT_TRUE(Holds(Log(), "sign in again with LVEmailAccess --authorize"));
  EXPECT_EQ(Delivered(), before);
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(m_servers->Messages("INBOX").size(), 1u);
}

TEST_F(OAuth2Test, AProviderOutOfReachEndsWith75AndTheNextRunCompletes) {
  m_servers->Command("token expires-in 100");
  SignIn();
  m_servers->Deliver("INBOX", emailaccess_test::ReplyText("ann@example.org", "Re: Corvane Survey - S", "yes\r\n"));
  m_servers->Command("token stop");
  Send(75);
  Fetch(75);
  // The sender the fetch started for the queued message meets the same
  // silence and ends.
  ASSERT_TRUE(WaitUntilNoneRuns(std::chrono::seconds(30)));
  EXPECT_EQ(Queued(), 1u);
  EXPECT_FALSE(testing_support::Exists(Bin("in.tmp")));
  m_servers->Command("token start");
  Expect(Run({"--send-queued"}), 0);
  EXPECT_EQ(Queued(), 0u);
  Fetch(0);
  EXPECT_TRUE(Holds(ReadFile(Bin("in.tmp")), "ann@example.org"));
}

TEST_F(OAuth2Test, TokenCommandSuppliesTheToken) {
  SignIn();
  const std::vector<std::string> issued = JsonStrings(m_servers->Command("token stats"), "issued");
  testing_support::WriteFile(Bin("token.txt"), issued.back() + "\nsecond line ignored\n");
  const std::vector<std::pair<std::string, int>> cases = {
      {"/bin/cat " + Bin("token.txt"), 0}, {"/bin/sh -c \"exit 75\"", 75}, {"/bin/false", 78}};
  for (const auto& [command, exitCode] : cases) {
    SCOPED_TRACE(command);
    ClientOptions options;
    options.oauth2Section = "token_command = " + command + "\n";
    Configure(options);
    Send(exitCode);
    Expect(Run({"--authorize"}), 64);
  }
  EXPECT_EQ(Count("refresh"), 0);
}

TEST_F(OAuth2Test, KilledWhileRenewingLeavesTheOldSignInWhole) {
  m_servers->Command("token expires-in 100");
  SignIn();
  const std::string before = TokenFile();
  m_servers->Command("token stall 30");
  {
    testing_support::ChildProcess program(
        Bin("LVEmailAccess"), {"2", WriteOutgoing({{"Ann", "ann@example.org"}}), "Corvane Survey - S", "0"}, {},
        m_dir.path());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return Count("stalled") == 1; }));
    program.Kill();
    program.Wait();
  }
  EXPECT_EQ(TokenFile(), before);
  m_servers->Command("token stall 0");
  Send(0);
}

}  // namespace

// Before anyone has signed in, --check says so for each server by its name,
// and never as if the server had refused a token.
TEST_F(OAuth2Test, CheckBeforeTheSignInNamesEachServerThatNeedsIt) {
  ConfigureFlow("device");
  const RunResult run = Run({"--check"});
  Expect(run, 1);
  for (const std::string server : {"SMTP smtp://127.0.0.1:", "IMAP imap"}) {
    EXPECT_TRUE(std::regex_search(run.out, std::regex("PROBLEM +" + server + "\\S*: not signed in yet"))) << server << run.out;
  }
  EXPECT_FALSE(Holds(run.out, "refused")) << run.out;
}
