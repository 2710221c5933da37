// LVEmailAccess.conf: the embedded default, what a file may set, and the
// clear error for everything it may not.

#include "email_test_support.h"
#include "emailaccess/config.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::ConfigError;
using emailaccess::ParseConfig;

TEST(Config, EmbeddedDefaultUsesMailFoldersBesideTheProgram) {
  auto config = emailaccess::DefaultConfig("/opt/lv/");
  EXPECT_EQ(config.source, "embedded default");
  EXPECT_EQ(config.senderName, "LvMAPI");
  EXPECT_EQ(config.senderAddress, "lvmapi@localhost");
  EXPECT_EQ(config.transport, "maildir");
  EXPECT_EQ(config.maildir.outbox, "/opt/lv/Mail/Outbox");
  EXPECT_EQ(config.maildir.inbox, "/opt/lv/Mail/Inbox");
  EXPECT_EQ(config.maildir.processed, "/opt/lv/Mail/Processed");
  EXPECT_EQ(config.maildir.skipped, "/opt/lv/Mail/Skipped");
}

TEST(Config, FileSetsSenderFoldersAndWait) {
  auto config = ParseConfig(
      "# comment\n; another\n\n[general]\r\nsender = \"Corvane Office\" <office@corvane.org>\n"
      "transport=maildir\nlock_wait_seconds = 0\n[maildir]\ninbox = /srv/mail/in/\noutbox = spool/out\n",
      "/opt/lv/", "test.conf");
  EXPECT_EQ(config.senderName, "Corvane Office");
  EXPECT_EQ(config.senderAddress, "office@corvane.org");
  EXPECT_EQ(config.lockWaitSeconds, 0);
  EXPECT_EQ(config.maildir.inbox, "/srv/mail/in");
  EXPECT_EQ(config.maildir.outbox, "/opt/lv/spool/out");
  EXPECT_EQ(config.maildir.processed, "/opt/lv/Mail/Processed") << "what the file leaves out keeps its default";
  EXPECT_EQ(config.source, "test.conf");
}

TEST(Config, MistakesAreErrorsNamingTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"sender = a@b.org\n", "line 1: a setting must follow a [section] line"},
      {"[general]\nsendr = a@b.org\n", "line 2: unknown setting 'sendr' in [general]"},
      {"[smpt]\n", "line 1: unknown section [smpt]"},
      {"[general\n", "line 1: a section line must end with ']'"},
      {"[general]\nsender\n", "line 2: expected 'key = value'"},
      {"[general]\nsender = not an address\n", "line 2: sender is not an address"},
      {"[general]\nsender = a@b.org, c@d.org\n", "line 2: sender is not an address"},
      {"[general]\ntransport = pigeon\n", "line 2: unknown transport 'pigeon'"},
      {"[general]\nlock_wait_seconds = -1\n", "line 2: lock_wait_seconds must be"},
      {"[general]\nlock_wait_seconds = 5s\n", "line 2: lock_wait_seconds must be"},
      {"[maildir]\ninbox =\n", "line 2: inbox: a folder name is required"},
  };
  for (const auto& [text, message] : cases) {
    try {
      ParseConfig(text, "/opt/lv/", "x.conf");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("x.conf, ") + message), std::string::npos) << e.what();
    }
  }
}

TEST(Config, LoadReadsTheFileBesideTheProgramOnlyWhenThere) {
  testing_support::ScratchDir dir;
  const std::string programDir = dir.path() + "/";
  EXPECT_EQ(emailaccess::LoadConfig(programDir).source, "embedded default");
  testing_support::WriteFile(dir.file("LVEmailAccess.conf"), "[general]\nsender = me@example.org\n");
  auto config = emailaccess::LoadConfig(programDir);
  EXPECT_EQ(config.source, dir.file("LVEmailAccess.conf"));
  EXPECT_EQ(config.senderAddress, "me@example.org");
  EXPECT_EQ(config.senderName, "");
}

TEST(Config, ShippedExampleIsValidAndEqualsTheDefault) {
  const std::string text = testing_support::ReadFile(std::string(LVMAPI_SOURCE_DIR) + "/emailaccess/LVEmailAccess.conf.example");
  ASSERT_FALSE(text.empty());
  auto fromExample = ParseConfig(text, "/opt/lv/", "example");
  auto standard = emailaccess::DefaultConfig("/opt/lv/");
  EXPECT_EQ(fromExample.senderName, standard.senderName);
  EXPECT_EQ(fromExample.senderAddress, standard.senderAddress);
  EXPECT_EQ(fromExample.lockWaitSeconds, standard.lockWaitSeconds);
  EXPECT_EQ(fromExample.maildir.inbox, standard.maildir.inbox);
  EXPECT_EQ(fromExample.maildir.outbox, standard.maildir.outbox);
  EXPECT_EQ(fromExample.maildir.processed, standard.maildir.processed);
  EXPECT_EQ(fromExample.maildir.skipped, standard.maildir.skipped);
}

}  // namespace
