// Replies as a real mail client writes them (tests/app/replies, made with
// mutt by make_fixtures.sh there), through command 5 from a copied install:
// answers typed under the quoted form, the goal notification's lower-case
// example followed, a form filled in inside an Outlook-style full quote, and
// replies that quote everything and type nothing; Gmail's replies
// (make_gmail_fixtures.py there). Then a task that todoman made and edited
// is updated and still read by todoman.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "reply_install.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::QueryRows;
using testing_support::ReadFile;
using Table = std::vector<std::vector<std::string>>;

const std::string kFixtures = std::string(LVMAPI_SOURCE_DIR) + "/tests/app/replies/";
const char kMealGoal[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";
const char kYouthGoal[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}";

class TypedReplies : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::CreateDatabase(m_bin + "/church.db", true);
    fs::create_directories(m_tasks);
  }
  // Each reply answers a message really sent to its writer: the message
  // its mail program answered is sent again to that address, and the
  // reply's In-Reply-To and References name it, as the mail program would
  // have written them.
  void Deliver(const std::vector<std::string>& fixtures) {
    for (const std::string& name : fixtures) {
      std::string reply = ReadFile(kFixtures + name + ".eml");
      std::smatch from, answered;
      ASSERT_TRUE(std::regex_search(reply, from, std::regex("\nFrom: [^<\n]*<([^>]+)>"))) << name;
      ASSERT_TRUE(std::regex_search(reply, answered, std::regex("\nIn-Reply-To: <([^>]+)>"))) << name;
      const std::string sent = testing_support::SendTo(m_bin, {from[1]}, "Corvane Survey").at(from[1]);
      reply = std::regex_replace(reply, std::regex(std::regex_replace(answered[1].str(), std::regex("[.]"), "[.]")),
                                 sent);
      testing_support::DeliverToMaildir(m_bin + "/Mail/Inbox", name, reply);
    }
  }
  void RunCommand5() {
    const auto run = testing_support::Run(m_bin + "/LvMAPI", {"church.db", "5"}, {{"LVMAPI_TASKS_DIR", m_tasks}}, m_dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  Table Rows(const std::string& sql) { return QueryRows(m_bin + "/church.db", sql); }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_tasks = m_dir.file("lists/church");
};

TEST_F(TypedReplies, WhatPeopleTypedIsStoredAndRepliesWithNothingTypedAreNamedInTheLog) {
  Deliver({"survey_inline_under_quotes", "survey_quoted_unchanged", "goal_lowercase_example",
           "goal_outlook_full_quote", "goal_quoted_unchanged"});
  RunCommand5();

  EXPECT_EQ(Rows("SELECT q.SurveyQuestionNumber, s.SurveyQuestionResponse FROM SurveyReply r "
                 "JOIN SurveyResponse s ON s.ReplyID = r.ReplyID "
                 "JOIN SurveyQuestion q ON q.SurveyQuestionID = s.SurveyQuestionID "
                 "WHERE r.ReplyEmail = 'ann.lee@example.org' ORDER BY 1"),
            (Table{{"1", "true"}, {"2", "yes"}, {"3", "9"}, {"4", "25%"}, {"5", "6"}, {"6", "b"}}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM SurveyReply"), (Table{{"1"}}));
  // Never the instructions' example of 25.
  EXPECT_EQ(Rows("SELECT r.ReplyEmail, s.GoalID, s.PercentComplete, s.Comment FROM StrategyGoalStatusReply r "
                 "JOIN StrategyGoalStatusResponse s ON s.ReplyID = r.ReplyID ORDER BY 1"),
            (Table{{"maria.santos@example.org", kMealGoal, "30", ""},
                   {"rob.obrien@example.org", kYouthGoal, "60", "Painting done, lighting next"}}));
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM StrategyGoalStatusReply"), (Table{{"2"}}));

  // One line for each reply that stored nothing, after the survey or goal
  // pass that read it (the date is the mail-access program's text).
  const std::string log = ReadFile(m_bin + "/LvMAPI.log");
  const std::regex nothingStored("Not stored, left for reading: the reply of ([a-z.]+@example.org) dated "
                                 "20[0-9: -]+: nothing typed between the tags\r\n");
  std::vector<std::string> who;
  for (std::sregex_iterator it(log.begin(), log.end(), nothingStored), end; it != end; ++it) who.push_back((*it)[1]);
  EXPECT_EQ(who, (std::vector<std::string>{"david.kim@example.org", "grace.mwangi@example.org"})) << log;
  EXPECT_NE(log.find("Number of survey responses read from file: 2\r\n"), std::string::npos);
  EXPECT_NE(log.find("Number of goal responses read from file: 3\r\n"), std::string::npos);
}

// Gmail's text part wraps what was typed at 76 columns, its HTML part does
// not (make_gmail_fixtures.py): a long comment or answer is stored, and
// reaches the task, as the one line it was typed as, without the padding
// of the form it was typed into.
TEST_F(TypedReplies, GmailRepliesKeepEachTypedLineWhole) {
  const char kWalkGoal[] = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0003}";
  const std::string task = m_tasks + "/prayer-walk.ics";
  testing_support::WriteFile(task, std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//LvMAPI tests//EN\r\n"
                                               "BEGIN:VTODO\r\nUID:prayer-walk\r\nSUMMARY:Prayer walk\r\n"
                                               "DESCRIPTION:Strategy goal ") + kWalkGoal +
                                       "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
  // Both answer from their own Gmail addresses, which the office has
  // accepted: Grace's is her address now, David's one of the survey's other
  // addresses.
  testing_support::ExecSql(m_bin + "/church.db",
                           "UPDATE Person SET Email = 'grace.mwangi@gmail.com' WHERE Email = 'grace.mwangi@example.org';"
                           "INSERT INTO SurveyOtherEmail VALUES ('{D4E5F6A7-0000-4B1C-8D2E-3F4A5B6C7D83}', "
                           "'{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}', 'david.kim.grace@gmail.com');");
  Deliver({"gmail_web_goal", "gmail_android_survey"});
  RunCommand5();

  const std::string comment =
      "Six of us walked the streets around the church in November, and the neighbours we met couldn't have been "
      "kinder or happier to see us!";
  EXPECT_EQ(Rows("SELECT s.GoalID, s.PercentComplete, s.Comment FROM StrategyGoalStatusResponse s"),
            (Table{{kWalkGoal, "40", comment}}));
  EXPECT_EQ(Rows("SELECT q.SurveyQuestionNumber, s.SurveyQuestionResponse FROM SurveyResponse s "
                 "JOIN SurveyQuestion q ON q.SurveyQuestionID = s.SurveyQuestionID ORDER BY 1"),
            (Table{{"1", "true"},
                   {"2", "yes"},
                   {"3", "8"},
                   {"4", "About a quarter, though in the summer it is closer to half because of the holiday club"},
                   {"5", "3"},
                   {"6", "b"}}));
  // The task's text, its folded lines unfolded, its commas unescaped.
  std::string text = std::regex_replace(ReadFile(task), std::regex("\r\n "), "");
  text = std::regex_replace(text, std::regex("\\\\,"), ",");
  EXPECT_NE(text.find("Percentage complete updated to 40\\nUpdate processed on "), std::string::npos) << text;
  EXPECT_NE(text.find(": " + comment + "\r\n"), std::string::npos) << text;
}

TEST_F(TypedReplies, ATaskTodomanMadeIsStillTodomansAfterTheUpdate) {
  if (!testing_support::Exists("/usr/bin/todoman")) {
    GTEST_SKIP() << "todoman is not installed (scripts/bootstrap.sh installs it)";
  }
  const std::string config = m_dir.file("todoman.py");
  testing_support::WriteFile(config, "path = \"" + m_dir.file("lists") + "/*\"\ndate_format = \"%Y-%m-%d\"\n"
                                     "time_format = \"%H:%M\"\ndefault_list = \"church\"\n");
  const std::map<std::string, std::string> env = {{"HOME", m_dir.path()}, {"XDG_CACHE_HOME", m_dir.file("cache")},
                                                  {"LC_ALL", "C.UTF-8"}, {"TZ", "UTC"}};
  auto todoman = [&](const std::string& command) {
    const auto run = testing_support::Run("/bin/sh", {"-c", command}, env, m_dir.path());
    EXPECT_EQ(run.exitCode, 0) << command << "\n" << run.err;
    return run.out;
  };
  const std::string todo = "todoman -c " + config;
  todoman("echo 'Strategy goal " + std::string(kMealGoal) + "' | " + todo +
          " new -l church -r --due 2027-03-31 --priority high --location 'Church hall' "
          "'Launch a monthly community meal'");
  // Categories only through todoman's raw edit, as a person would add them.
  todoman("EDITOR=\"sed -i 's/^SUMMARY:/CATEGORIES:Outreach,Hospitality\\r\\nSUMMARY:/'\" " + todo + " edit --raw 1");
  const std::string list = todo + " --porcelain list --category Hospitality --status ANY";
  const std::string before = todoman(list);
  ASSERT_NE(before.find("\"percent\": 0,"), std::string::npos) << before;
  const std::string file = m_tasks + "/" + testing_support::ListFolder(m_tasks).at(0);
  ASSERT_NE(ReadFile(file).find("\r\nCATEGORIES:Outreach,Hospitality\r\n"), std::string::npos);

  Deliver({"goal_lowercase_example"});
  RunCommand5();

  const std::string after = todoman(list);
  EXPECT_NE(after.find("\"percent\": 30,"), std::string::npos) << after;
  EXPECT_NE(after.find("Percentage complete updated to 30\\nUpdate processed on "), std::string::npos) << after;
  // Everything else todoman shows is as it was.
  std::istringstream was(before), is(after);
  for (std::string a, b; std::getline(was, a) && std::getline(is, b);) {
    if (a.find("\"description\"") == std::string::npos && a.find("\"percent\"") == std::string::npos) {
      EXPECT_EQ(b, a);
    }
  }
  EXPECT_NE(ReadFile(file).find("\r\nCATEGORIES:Outreach,Hospitality\r\n"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

}  // namespace
