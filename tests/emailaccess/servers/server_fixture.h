// A test with its own mail servers and its own copy of the installation
// (LvMAPI, LVEmailAccess and a LVEmailAccess.conf for those servers).
#pragma once

#include "mail_servers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace emailaccess_test {

class ServerTest : public ::testing::Test {
 protected:
  // Makes this test's install the one whose sent register ReplyText notes.
  ServerTest();
  void SetUp() override;
  // Starts the servers (once; SetUp does it with MOVE announced).
  void StartServers(bool withoutMove, bool tokenService = false, bool rawlog = false);

  // Writes LVEmailAccess.conf (readable by its owner only).
  void Configure(const ClientOptions& options = {});
  // Adds `pace = <pace>` in [smtp] to LVEmailAccess.conf ("30 per 6").
  void SetPace(const std::string& pace);
  testing_support::RunResult Run(const std::vector<std::string>& args,
                                 const std::map<std::string, std::string>& env = {});
  std::string Log() const { return testing_support::ReadFile(m_dir.file("bin/LVEmailAccess.log")); }
  std::string Bin(const std::string& name) const { return m_dir.file("bin/" + name); }
  // An outgoing exchange file as LvMAPI writes it, for (name, address) pairs.
  std::string WriteOutgoing(const std::vector<std::pair<std::string, std::string>>& recipients,
                            const std::string& body = "Dear member,\r\n<answer1></answer1>\r\n");
  // Queued messages beside the program.
  size_t Queued() const;
  // The process ids of this install's LVEmailAccess running now: once the
  // test's own runs have ended, the senders in the background. (Asking for
  // the sender lock instead could turn a starting sender away.)
  std::vector<pid_t> RunningPrograms() const;
  // Waits until none runs, looking every 100 ms; false after `limit`.
  bool WaitUntilNoneRuns(std::chrono::seconds limit) const;
  // Ends every LVEmailAccess of this install running now (a sender in the
  // background waiting for the pace), as a kill would.
  void StopPrograms() const;
  // Ends those the test left running.
  void TearDown() override { StopPrograms(); }

  testing_support::ScratchDir m_dir;
  std::unique_ptr<MailServers> m_servers;
};

// A reply by `from` to a survey message: plain text, unread, with the
// answers typed between the tags, answering a message sent to `from` (noted
// in the sent register of the running test's install, and named in
// In-Reply-To and References as mail programs do).
std::string ReplyText(const std::string& from, const std::string& subject, const std::string& body);

// True when `text` holds `part`; for readable expectations.
inline bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace emailaccess_test
