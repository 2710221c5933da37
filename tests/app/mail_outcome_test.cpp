// What LvMAPI tells its caller when the mail-access program did not do its
// job: one run-log line with the status and what it means, the program's own
// words, and the most serious status as LvMAPI's exit status. Each case runs
// the real LVEmailAccess from a copied install folder.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::Visible;
using testing_support::WriteFile;

const char kSurvey[] = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";

// A port on 127.0.0.1 that nothing listens on: bound, then let go.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class MailOutcome : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::CreateDatabase(m_bin + "/church.db", true);
  }
  RunResult LvMAPI(const std::vector<std::string>& args) {
    return testing_support::Run(m_bin + "/LvMAPI", args, {{"TZ", "UTC"}}, m_dir.path());
  }
  std::string Log() const { return ReadFile(m_bin + "/LvMAPI.log"); }
  std::string ServerSettings(int port, const std::string& imapUser) const {
    const std::string at = "127.0.0.1:" + std::to_string(port);
    return "[general]\nsender = Grace <office@grace.example.org>\ntransport = smtp+imap\n"
           "[network]\nretries = 0\n"
           "[smtp]\nurl = smtp://" + at + "\nuser = office\npassword = secret\n"
           "[imap]\nurl = imap://" + at + "/INBOX\n" + imapUser + "password = secret\n";
  }
  size_t Messages(const std::string& folder) const {
    size_t n = 0;
    for (const char* sub : {"/new", "/cur"}) {
      const std::string path = m_bin + "/Mail/" + folder + sub;
      if (std::filesystem::exists(path)) n += testing_support::ListFolder(path).size();
    }
    return n;
  }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
};

// The line LvMAPI adds, followed by the program's first words on standard
// error, indented.
void ExpectOutcome(const std::string& log, const std::string& line, const std::string& programSaid) {
  EXPECT_NE(log.find(line + "\r\n  LVEmailAccess: "), std::string::npos) << Visible(log);
  EXPECT_NE(log.find(programSaid), std::string::npos) << Visible(log);
}

TEST_F(MailOutcome, ASendOrFetchThatDidNotHappenIsLoggedAndEndsTheRunWithItsStatus) {
  const std::string temporary =
      "The mail-access program ended with status 75: temporary failure, nothing is lost and the next run completes it";
  const std::string settings =
      "The mail-access program ended with status 78: the settings or the login are wrong and a person must fix "
      "LVEmailAccess.conf";
  struct Case {
    std::string name;
    std::string conf;
    std::vector<std::string> args;
    int exit;
    std::string line, programSaid;
  };
  const int port = ClosedPort();
  const Case cases[] = {
      {"server out of reach, send", ServerSettings(port, "user = office\n"), {"church.db", "2", kSurvey}, 75,
       temporary, "the next run sends them"},
      {"server out of reach, fetch", ServerSettings(port, "user = office\n"), {"church.db", "4"}, 75, temporary,
       "127.0.0.1"},
      {"a setting missing, send", ServerSettings(port, ""), {"church.db", "2", kSurvey}, 78, settings, "user"},
      {"a setting missing, fetch", ServerSettings(port, ""), {"church.db", "5"}, 78, settings, "user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(m_bin + "/LVEmailAccess.conf", c.conf);
    const RunResult run = LvMAPI(c.args);
    EXPECT_EQ(run.exitCode, c.exit) << run.err;
    ExpectOutcome(Log(), c.line, c.programSaid);
  }
  // What the Part-given lines say stays as it was: the reply pass still
  // counts what it could read, for each kind of reply.
  EXPECT_NE(Log().find("Number of survey responses read from file: 0\r\n"), std::string::npos);
  EXPECT_NE(Log().find("Number of goal responses read from file: 0\r\n"), std::string::npos);
}

TEST_F(MailOutcome, ARecipientWithoutAnAddressIsNamedAndEveryoneElseIsSent) {
  testing_support::ExecSql(m_bin + "/church.db",
                           "UPDATE Person SET Email = '' WHERE PersonID = '{3B9F1C2E-8A4D-4E61-9C0B-5D7E2F1A6B04}';");
  const RunResult run = LvMAPI({"church.db", "2", kSurvey});
  EXPECT_EQ(run.exitCode, 65) << run.err;
  ExpectOutcome(Log(),
                "The mail-access program ended with status 65: some recipients have no usable e-mail address, the "
                "others were sent",
                "David Kim");
  EXPECT_EQ(Messages("Outbox"), 5u) << "the three other people and the two extra addresses";
}

TEST_F(MailOutcome, AMailAccessProgramKilledBySignalIsAFailure) {
  WriteFile(m_bin + "/LVEmailAccess", "#!/bin/sh\necho 'going down' >&2\nkill -TERM $$\n");
  std::filesystem::permissions(m_bin + "/LVEmailAccess", std::filesystem::perms::owner_all);
  const RunResult run = LvMAPI({"church.db", "4"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(Log().find("The mail-access program was stopped by signal 15\r\n  going down\r\n"
                       "Number of survey responses read from file: 0\r\n"),
            std::string::npos)
      << Visible(Log());
}

}  // namespace
