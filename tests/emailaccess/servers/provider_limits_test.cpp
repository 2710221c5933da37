// The providers' sending limits, answered in their own words by the
// submission server of the tests (mail_servers.py, PROVIDER_LIMITS): what each
// person received, the exit status and the log, then the later run that
// sends what waited, with no one served twice; a mailing held back leaves the
// rest to the sender in the background; and a large mailing at a pace, run
// twice.

#include "exchange/outgoing.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

namespace {

using emailaccess_test::Holds;
using emailaccess_test::ServerTest;

class ProviderLimitsTest : public ServerTest {};

TEST_F(ProviderLimitsTest, ALimitHoldsTheRestInTheQueueAndNoOneGetsTwoCopies) {
  struct Episode {
    const char* command;  // to the server: its limit after two deliveries
    int exitCode;
    size_t queued;
    std::vector<const char*> told;  // in LVEmailAccess.log
    bool held;                      // the provider's hold outlives the run
  };
  const Episode episodes[] = {
      {"smtp-provider microsoft-rate 2", 0, 3,
       {"421 4.4.2 Message submission rate for this client has exceeded the configured limit",
        "the server is not out of reach", "(held back by the server's sending rate limit)", "sending is held until"},
       true},
      {"smtp-provider microsoft-threads 2", 0, 3,
       {"432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded", "asks to slow down"},
       true},
      {"smtp-provider google-daily 2", 0, 3,
       {"the account's sending quota is used up, sending stopped (the server said: 550-5.4.5 Daily user sending limit "
        "exceeded. For more information on Gmail | 550-5.4.5 sending limits go to | 550 5.4.5  "
        "https://support.google.com/a/answer/166852 - gsmtp)",
        "(held back until the account's sending quota frees)", "sending is held until"},
       true},
      {"smtp-provider microsoft-quota 2", 0, 3,
       {"554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException", "sending quota is used up"},
       true},
      {"smtp-cut-after-data 2", 0, 0,
       {"handed over, answer lost: e3@example.org, subject \"Corvane Survey - Spring\"", "probably has it",
        "it is not sent again by itself",
        "4 sent through 127.0.0.1; 1 more was handed over but the server's answer was lost: probably delivered"},
       false},
  };
  Configure();
  int round = 0;
  for (const Episode& episode : episodes) {
    SCOPED_TRACE(episode.command);
    ++round;
    std::vector<std::pair<std::string, std::string>> people;
    for (int i = 1; i <= 5; ++i) {
      const std::string address = std::string(1, static_cast<char>('a' + round - 1)) + std::to_string(i) + "@example.org";
      people.push_back({"", address});
    }
    const size_t before = m_servers->SmtpRecipients().size();
    m_servers->Command(episode.command);
    std::remove(Bin("LVEmailAccess.log").c_str());
    const auto run = Run({"2", WriteOutgoing(people), "Corvane Survey - Spring", "0"});
    const std::string log = Log();
    EXPECT_EQ(run.exitCode, episode.exitCode) << run.err << log;
    EXPECT_EQ(Queued(), episode.queued) << log;
    for (const char* line : episode.told) EXPECT_TRUE(Holds(log, line)) << line << "\n" << log;
    EXPECT_FALSE(Holds(log, "out of reach:")) << log;
    EXPECT_FALSE(Holds(log, "trying again")) << "a limit is not hammered with retries\n" << log;
    EXPECT_FALSE(Holds(log, "cannot send")) << log;

    m_servers->Command("smtp-provider off 0");
    if (episode.held) {
      // The sender the mailing started does not ask the provider again
      // before its hold has passed: it waits (a quota ends it).
      EXPECT_TRUE(testing_support::WaitUntil([&] { return Holds(Log(), "); nothing is sent before"); },
                                             std::chrono::seconds(10)))
          << Log();
      // Ended as a restart of the computer would end it.
      StopPrograms();
      EXPECT_EQ(m_servers->SmtpRecipients().size(), before + 2);
      // As the clock would end the hold.
      std::remove(Bin("LVEmailAccess.pace").c_str());
    }
    const auto later = Run({"--send-queued"});
    EXPECT_EQ(later.exitCode, 0) << later.err << Log();
    EXPECT_EQ(Queued(), 0u);
    std::map<std::string, int> copies;
    const auto recipients = m_servers->SmtpRecipients();
    for (size_t i = before; i < recipients.size(); ++i) ++copies[recipients[i]];
    for (const auto& person : people) EXPECT_EQ(copies[person.second], 1) << person.second;
    EXPECT_EQ(copies.size(), people.size());
  }
}

}  // namespace

namespace {

// A paced account sends what the window allows, and a run right after it
// sends nothing more: the window counts across runs.
TEST_F(ProviderLimitsTest, APacedMailingSendsWhatTheWindowAllowsAndQueuesTheRest) {
  Configure();
  SetPace("2 per 600");
  std::vector<std::pair<std::string, std::string>> people;
  for (int i = 1; i <= 5; ++i) people.push_back({"", "p" + std::to_string(i) + "@example.org"});
  const auto run = Run({"2", WriteOutgoing(people), "Corvane Survey - Spring", "0"});
  EXPECT_EQ(run.exitCode, 0) << "the rest waits for the sender in the background\n" << run.err << Log();
  EXPECT_EQ(m_servers->SmtpRecipients().size(), 2u);
  EXPECT_EQ(Queued(), 3u);
  const std::string told = "2 of 5 sent; 127.0.0.1 takes 2 every 600 s, the other 3 go out by themselves by about ";
  EXPECT_TRUE(Holds(Log(), told)) << Log();
  EXPECT_NE(run.out.find(told), std::string::npos) << run.out;
  EXPECT_TRUE(Holds(Log(), "(held back by the pace)")) << Log();
  EXPECT_TRUE(Holds(Log(), "the sender is started in the background for the 3 message(s)")) << Log();

  // The sender waits for the window; the fixture ends it.
  ASSERT_TRUE(testing_support::WaitUntil([&] { return Holds(Log(), "the next may go out at about"); },
                                         std::chrono::seconds(10)))
      << Log();
  EXPECT_EQ(RunningPrograms().size(), 1u);
  EXPECT_EQ(m_servers->SmtpRecipients().size(), 2u) << "the window is still full";
  EXPECT_EQ(Queued(), 3u);
}

}  // namespace

namespace {

// 300 members at a pace scaled down to 30 in 2 s: the mailing sends what
// the pace allows and says how the rest goes out; run again while the rest
// waits, it sends nobody anything; the queue drains at the pace, and every
// member has exactly one copy.
TEST_F(ProviderLimitsTest, ThreeHundredMembersRunTwiceEachGetOneCopyAtThePace) {
  Configure();
  SetPace("30 per 2");
  std::vector<exchange::Recipient> people;
  for (int i = 1; i <= 300; ++i) people.push_back({"", "m" + std::to_string(i) + "@example.org"});
  testing_support::WriteFile(Bin("survey.tmp"), exchange::FormatOutgoing(people, "Dear member,\r\n", "survey {7A1C}"));
  const std::vector<std::string> mailing = {"2", Bin("survey.tmp"), "Corvane Survey - Spring", "0"};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Holds(Run(mailing).out, "30 of 300 sent; 127.0.0.1 takes 30 every 2 s, the other 270 go out by "
                                      "themselves by about "));
  for (bool ranAgain = false; Queued() > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(90);) {
    if (!ranAgain && Queued() <= 150) {
      EXPECT_TRUE(Holds(Run(mailing).out, "300 already have it or have it coming, 0 sent now\n"));
      ranAgain = true;
    }
    Run({"--send-queued"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  // Ten windows at the least (times are kept in whole seconds).
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(17));
  std::map<std::string, int> copies;
  for (const std::string& recipient : m_servers->SmtpRecipients()) ++copies[recipient];
  EXPECT_EQ(copies.size(), people.size());
  for (const auto& person : people) EXPECT_EQ(copies[person.address], 1) << person.address;
}

}  // namespace
