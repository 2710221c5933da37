// A large mailing at the provider's pace: the mailing returns within
// seconds, the rest goes out by itself with the sender in the background,
// one sender at a time, another mailing meanwhile takes its turn, and a
// sender killed on the way is replaced by the next start without anyone
// getting a second copy.

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

namespace {

using emailaccess_test::Holds;
using emailaccess_test::ServerTest;
using Clock = std::chrono::steady_clock;

class BackgroundSenderTest : public ServerTest {
 protected:
  // Waits until the server has taken `count` messages or more, looking
  // every 100 ms; false after `limit`.
  bool WaitForDeliveries(size_t count, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (m_servers->SmtpRecipients().size() < count) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
  }

  // When the server took each message, in seconds, oldest first (from the
  // delivered files' names, "<seconds>.M<microseconds>P...").
  std::vector<double> DeliveryTimes() const {
    std::vector<double> times;
    for (const std::string& name : m_servers->Messages("Delivered", true)) {
      long long seconds = 0, micros = 0;
      if (std::sscanf(name.c_str(), "%lld.M%lld", &seconds, &micros) == 2) times.push_back(seconds + micros / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
  }
};

TEST_F(BackgroundSenderTest, ALargeMailingGoesOutByItselfAtThePaceAndNobodyGetsTwoCopies) {
  Configure();
  SetPace("30 per 6");
  std::vector<std::pair<std::string, std::string>> people;
  for (int i = 1; i <= 299; ++i) people.push_back({"", "member" + std::to_string(i) + "@example.org"});

  const auto started = Clock::now();
  const auto mailing = Run({"2", WriteOutgoing(people), "Corvane Survey - Spring", "0"});
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(10)) << "the mailing waited for the queue";
  EXPECT_EQ(mailing.exitCode, 0) << mailing.err << Log();
  EXPECT_TRUE(Holds(mailing.out, "sent through 127.0.0.1")) << mailing.out;
  EXPECT_TRUE(Holds(Log(), "the sender is started in the background for the 269 message(s)")) << Log();

  // A second sender, once the first is at work, leaves the work to it.
  ASSERT_TRUE(testing_support::WaitUntil([&] { return Holds(Log(), "the next may go out at about"); },
                                         std::chrono::seconds(10)))
      << Log();
  const auto second = Clock::now();
  const auto another = Run({"--send-queued"});
  EXPECT_LT(Clock::now() - second, std::chrono::seconds(5));
  EXPECT_EQ(another.exitCode, 0) << another.err;
  EXPECT_TRUE(Holds(Log(), "another sender is at work")) << Log();

  // A goal's notification meanwhile takes its turn at the pace.
  const std::pair<std::string, std::string> pastor{"Pastor John", "john@example.org"};
  const auto goal = Run({"1", WriteOutgoing({pastor}), "Corvane Strategy - Goal", "0"});
  EXPECT_EQ(goal.exitCode, 0) << goal.err << Log();
  people.push_back(pastor);

  // Killed while it waits for the next window, after a window's messages
  // have gone out in the background.
  ASSERT_TRUE(WaitForDeliveries(60, std::chrono::seconds(30))) << Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::vector<pid_t> senders = RunningPrograms();
  ASSERT_EQ(senders.size(), 1u);
  kill(senders[0], SIGKILL);
  ASSERT_TRUE(WaitUntilNoneRuns(std::chrono::seconds(10)));
  const size_t beforeRestart = m_servers->SmtpRecipients().size();
  EXPECT_LT(beforeRestart, people.size());
  EXPECT_EQ(Queued() + beforeRestart, people.size()) << "the queue keeps every message not sent";

  // Fetching the replies starts a new sender, without sending itself.
  std::remove(Bin("LVEmailAccess.log").c_str());
  const auto fetch = Run({"4", Bin("replies.tmp"), "Corvane Survey", "0"});
  EXPECT_EQ(fetch.exitCode, 0) << fetch.err << Log();
  EXPECT_TRUE(Holds(Log(), "the sender is started in the background for the " +
                               std::to_string(people.size() - beforeRestart) + " message(s)"))
      << Log();
  ASSERT_TRUE(WaitUntilNoneRuns(std::chrono::seconds(90))) << "the sender never ended\n" << Log();

  EXPECT_EQ(Queued(), 0u) << Log();
  std::map<std::string, int> copies;
  for (const std::string& recipient : m_servers->SmtpRecipients()) ++copies[recipient];
  EXPECT_EQ(copies.size(), people.size());
  for (const auto& person : people) EXPECT_EQ(copies[person.second], 1) << person.second;

  // Never faster than the pace, and the last message out as soon as the
  // pace allows it: nine windows after the first, each a second longer,
  // since the pace counts whole seconds and frees a place only once it is
  // surely free.
  const std::vector<double> times = DeliveryTimes();
  ASSERT_EQ(times.size(), people.size());
  for (size_t i = 30; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 30], 6.0) << "message " << i;
  EXPECT_LE(times.back() - times.front(), 9 * 7 + 6.0);
}

// LvMAPI reads LVEmailAccess's output through pipes and waits for their
// end: the sender in the background must not hold them.
TEST_F(BackgroundSenderTest, LvMAPIGetsControlBackWhileTheSenderWorks) {
  Configure();
  SetPace("2 per 5");
  testing_support::CreateDatabase(Bin("church.db"), true);
  const auto started = Clock::now();
  const auto run = testing_support::Run(Bin("LvMAPI"), {"church.db", "2", "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}"},
                                        {{"TZ", "UTC"}}, m_dir.path());
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << "LvMAPI waited for the sender";
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_LT(m_servers->SmtpRecipients().size(), 6u);
  EXPECT_TRUE(WaitForDeliveries(6, std::chrono::seconds(30))) << "four persons and two extra addresses\n" << Log();
  EXPECT_TRUE(WaitUntilNoneRuns(std::chrono::seconds(10)));
  EXPECT_EQ(Queued(), 0u);
}

}  // namespace
