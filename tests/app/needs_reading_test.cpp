// Replies LvMAPI stores nothing from reach a person: command 4 names each in
// its run log with the reason, and the mail-access program files it, unread,
// into Mail/Needs reading instead of Processed; a copy of a reply stored
// before counts as stored. Also LvMAPI killed after storing, before it has
// told the mail-access program what it stored: the next run stores every
// reply once and files each where it belongs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <regex>

#include "exchange/hand_back.h"
#include "platform/file_lock.h"
#include "reply_install.h"

namespace {

using testing_support::ReplyInstall;

// Where the messages from `from` are filed: "<folder>", with " (seen)" when
// marked seen there, in folder order.
std::vector<std::string> WhereIs(const ReplyInstall& install, const std::string& from) {
  std::vector<std::string> found;
  for (const char* folder : {"Inbox", "Processed", "Needs reading", "Skipped"}) {
    for (const char* sub : {"/new", "/cur"}) {
      const std::string path = install.bin() + "/Mail/" + folder + sub;
      for (const std::string& name : testing_support::ListFolder(path)) {
        if (testing_support::ReadFile(path + "/" + name).find("From: " + from + "\r\n") == std::string::npos) continue;
        const size_t flags = name.find(":2,");
        found.push_back(folder + std::string(flags != std::string::npos && name.find('S', flags) != std::string::npos
                                                 ? " (seen)"
                                                 : ""));
      }
    }
  }
  return found;
}

// The reasons the run log gives for leaving replies of `from` for reading.
std::vector<std::string> NotStoredReasons(const std::string& log, const std::string& from) {
  const std::regex line("Not stored, left for reading: the reply of " + std::regex_replace(from, std::regex("\\."), "\\.") +
                        " dated 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8}: ([a-z' ]+)\r\n");
  std::vector<std::string> reasons;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) reasons.push_back((*it)[1]);
  return reasons;
}

struct Reply {
  const char* from;
  std::string body;
  std::vector<std::string> folders;  // WhereIs after the run
  std::vector<std::string> reasons;  // NotStoredReasons after the run
};

TEST(NeedsReading, EveryReplyThatStoredNothingIsNamedAndFiledUnreadForAPerson) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  const int first = install.PlaceSurveyReply("ann.lee@example.org", ReplyInstall::SurveyBody({"yes", "no", "7"}));
  ASSERT_EQ(install.RunLvMAPI("4").exitCode, 0);

  const std::vector<Reply> replies = {
      // A copy of the reply stored by the first run, beside the original.
      {"ann.lee@example.org", ReplyInstall::SurveyBody({"yes", "no", "7"}), {"Processed (seen)", "Processed (seen)"}, {}},
      {"ben.ode@example.org", "Sorry, I can't fill this in this year. Please call me.\r\n", {"Needs reading"},
       {"no tags"}},
      {"cy.lund@example.org", ReplyInstall::SurveyBody({"a", "b", "c"}, "{00000000-DE1E-4ED0-8000-000000000000}"),
       {"Needs reading"}, {"survey or goal not found"}},
      {"dee.moss@example.org", ReplyInstall::SurveyBody({"  ", " ", "  "}), {"Needs reading"},
       {"nothing typed between the tags"}},
      {"eve.nash@example.org", "<answer1>yes</answer1> but where is the rest?\r\n", {"Needs reading"},
       {"no survey or strategy given"}},
      {"fay.orr@example.org", ReplyInstall::SurveyBody({"no", "yes", "3"}), {"Processed (seen)"}, {}},
  };
  install.AddToSurveyList("fay.orr@example.org");
  for (const Reply& reply : replies) {
    install.PlaceSurveyReply(reply.from, reply.body, std::string(reply.from) == "ann.lee@example.org" ? first : 0);
  }
  const auto run = install.RunLvMAPI("4");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(install.Acknowledge().exitCode, 0);

  const std::string log = install.RunLog();
  for (const Reply& reply : replies) {
    EXPECT_EQ(WhereIs(install, reply.from), reply.folders) << reply.from;
    EXPECT_EQ(NotStoredReasons(log, reply.from), reply.reasons) << reply.from << "\n" << testing_support::Visible(log);
  }
  EXPECT_EQ(install.Count("SurveyReply"), 2);
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
}

// A member answers from an address the survey did not go to: the reply is
// left for a person. The office accepts the address (puts it on the
// survey's list) and moves the message back into the Inbox: the next run
// stores it, and a further copy of it is stored no more.
TEST(NeedsReading, AnAddressTheOfficeAcceptsIsStoredOnceTheMessageIsBackInTheInbox) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  const std::string home = "ann.home@example.org";
  install.PlaceSurveyReply(home, ReplyInstall::SurveyBody({"yes", "no", "7"}));
  ASSERT_EQ(install.RunLvMAPI("4").exitCode, 0);
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(WhereIs(install, home), std::vector<std::string>{"Needs reading"});
  EXPECT_EQ(NotStoredReasons(install.RunLog(), home), std::vector<std::string>{"not on the survey's list"});
  EXPECT_EQ(install.Count("SurveyReply"), 0);

  install.AddToSurveyList(home);
  const std::string held = install.bin() + "/Mail/Needs reading/";
  for (const char* sub : {"new/", "cur/"}) {
    for (const std::string& name : testing_support::ListFolder(held + sub)) {
      const std::string message = testing_support::ReadFile(held + sub + name);
      std::filesystem::remove(held + sub + name);
      testing_support::DeliverToMaildir(install.Inbox(), name.substr(0, name.find(':')), message);
      // The same message once more, as a second move would bring it.
      testing_support::DeliverToMaildir(install.Inbox(), name.substr(0, name.find(':')) + "-again", message);
    }
  }
  ASSERT_EQ(install.RunLvMAPI("4").exitCode, 0);
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(NotStoredReasons(install.RunLog(), home), std::vector<std::string>{});
  EXPECT_EQ(WhereIs(install, home), (std::vector<std::string>{"Processed (seen)", "Processed (seen)"}));
  EXPECT_EQ(testing_support::QueryRows(install.db(), "SELECT r.ReplyEmail, s.SurveyQuestionResponse FROM SurveyReply r "
                                                     "JOIN SurveyResponse s ON s.ReplyID = r.ReplyID ORDER BY 2"),
            (std::vector<std::vector<std::string>>{{home, "7"}, {home, "no"}, {home, "yes"}}));
}

constexpr int kStored = 10;
constexpr int kLetters = 2;

// LvMAPI is held at the hand-back by a named pipe in the place where the
// hand-back is prepared (opening it for writing waits for a reader that
// never comes), after every reply is stored, and killed there. The path is
// known once the mail-access program has logged its exchange file, which it
// does before it waits for the intake lock the test holds.
TEST(NeedsReading, LvMAPIKilledBetweenStoringAndTheHandBackLosesNothing) {
  testing_support::ScratchDir dir;
  ReplyInstall install(dir.file("bin"));
  for (int k = 1; k <= kLetters; ++k) {
    install.PlaceSurveyReply("letter" + std::to_string(k) + "@example.org", "Please call me.\r\n");
  }
  install.PlaceSurveyReplies(kStored);

  auto mailLock = std::make_unique<platform::FileLock>();
  ASSERT_EQ(mailLock->Acquire(install.bin() + "/LVEmailAccess.lock", std::chrono::milliseconds(0)),
            platform::FileLock::Result::Acquired);
  auto lvmapi = install.StartLvMAPI("4", "");
  const std::string intro = "fetching replies about \"Corvane Survey\" into ";
  ASSERT_TRUE(testing_support::WaitUntil(
      [&] { return install.MailLog().find(intro) != std::string::npos || !lvmapi->Running(); }));
  const std::string mailLog = install.MailLog();
  const size_t at = mailLog.find(intro) + intro.size();
  const std::string exchangeFile = mailLog.substr(at, mailLog.find('\n', at) - at);
  const std::string stall = exchange::HandBackPath(exchangeFile) + ".part";
  ASSERT_EQ(::mkfifo(stall.c_str(), 0600), 0) << stall;
  mailLock.reset();

  // The database is busy while LvMAPI writes: such a look is tried again.
  auto allStored = [&] {
    try {
      const auto rows = testing_support::QueryRows(install.db(), "SELECT COUNT(*) FROM SurveyReply");
      return rows.size() == 1 && rows[0].size() == 1 && rows[0][0] == std::to_string(kStored);
    } catch (const std::exception&) {
      return false;
    }
  };
  ASSERT_TRUE(testing_support::WaitUntil([&] { return allStored() || !lvmapi->Running(); }));
  ASSERT_TRUE(lvmapi->Running()) << "LvMAPI passed the hand-back: " << lvmapi->Wait().err;
  lvmapi->Kill();
  ASSERT_EQ(lvmapi->Wait().signal, testing_support::kKilledSignal);
  ASSERT_EQ(::unlink(stall.c_str()), 0);
  EXPECT_FALSE(testing_support::Exists(exchange::HandBackPath(exchangeFile)));

  const auto rerun = install.RunLvMAPI("4");
  ASSERT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_NE(install.RunLog().find("Number of survey responses read from file: " + std::to_string(kStored + kLetters)),
            std::string::npos);
  ASSERT_EQ(install.Acknowledge().exitCode, 0);
  EXPECT_EQ(install.StoredOnceProblems(kStored, 0), std::vector<std::string>{});
  EXPECT_EQ(install.Messages("Inbox"), 0u);
  EXPECT_EQ(install.Messages("Processed"), static_cast<size_t>(kStored));
  EXPECT_EQ(install.Messages("Needs reading"), static_cast<size_t>(kLetters));
  EXPECT_EQ(install.LeftoverExchangeFiles(), std::vector<std::string>{});
}

}  // namespace
