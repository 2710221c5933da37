// LvMAPI and the real mail-access program together, on the embedded defaults
// (SQLite database, Maildir folders), from a copied install folder: a survey
// goes out, people answer, the answers are stored once and the replies filed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::QueryRows;
using testing_support::ReadFile;
using testing_support::Visible;

const char kSurvey[] = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";

size_t CountMessages(const std::string& maildir) {
  size_t n = 0;
  for (const char* sub : {"new", "cur"}) n += testing_support::ListFolder(maildir + "/" + sub).size();
  return n;
}

class FullLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    ASSERT_TRUE(testing_support::Exists(m_bin + "/LVEmailAccess")) << "the mail-access program was not built";
    m_db = m_bin + "/church.db";
    testing_support::CreateDatabase(m_db, true);
  }

  testing_support::RunResult LvMAPI(const std::vector<std::string>& args) {
    auto result = testing_support::Run(m_bin + "/LvMAPI", args, {}, m_dir.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result;
  }
  // People answer: the same reply maker the README's demo uses.
  void PeopleReply() {
    auto result = testing_support::Run("/usr/bin/python3",
                                       {std::string(LVMAPI_SOURCE_DIR) + "/scripts/demo_replies.py", m_bin + "/Mail"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }
  std::string Count(const std::string& table) { return QueryRows(m_db, "SELECT COUNT(*) FROM " + table)[0][0]; }

  testing_support::ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_db;
};

TEST_F(FullLoop, ASurveyGoesOutAndItsAnswersAreStoredOnceAndFiled) {
  LvMAPI({"church.db", "2", kSurvey});
  // One message per recipient: four persons and two extra addresses.
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Outbox"), 6u);
  // The mail-access program's own words on where they went, in the run log.
  EXPECT_NE(ReadFile(m_bin + "/LvMAPI.log")
                .find("6 delivered into the local folder " + m_bin +
                      "/Mail/Outbox: no mail provider is set up, nothing has left this computer\r\n"),
            std::string::npos)
      << Visible(ReadFile(m_bin + "/LvMAPI.log"));
  for (const auto& name : testing_support::ListFolder(m_bin)) {
    EXPECT_FALSE(name.ends_with(".tmp")) << "an exchange file was left behind: " << name;
  }

  PeopleReply();  // three people answer, one robot replies out of office
  LvMAPI({"church.db", "4"});
  EXPECT_NE(ReadFile(m_bin + "/LvMAPI.log").find("Number of survey responses read from file: 3\r\n"),
            std::string::npos)
      << Visible(ReadFile(m_bin + "/LvMAPI.log"));
  EXPECT_EQ(Count("SurveyReply"), "3");
  EXPECT_EQ(Count("SurveyResponse"), "17");  // 6 + 6 + 5 answered questions
  // The answers are matched to the questions by number, whatever the mail program.
  const auto answers = QueryRows(m_db,
                                 "SELECT r.ReplyEmail, q.SurveyQuestionNumber, s.SurveyQuestionResponse "
                                 "FROM SurveyReply r JOIN SurveyResponse s ON s.ReplyID = r.ReplyID "
                                 "JOIN SurveyQuestion q ON q.SurveyQuestionID = s.SurveyQuestionID "
                                 "WHERE q.SurveyQuestionNumber IN (3, 6) ORDER BY r.ReplyEmail, 2");
  const std::vector<std::vector<std::string>> expected = {
      {"ann.lee@example.org", "3", "9"},     {"ann.lee@example.org", "6", "b"},
      {"david.kim@example.org", "3", "10"},  {"david.kim@example.org", "6", "d"},  // quoted with "> "
      {"rob.obrien@example.org", "3", "7"},  {"rob.obrien@example.org", "6", "a"},  // HTML only
  };
  EXPECT_EQ(answers, expected);
  for (const auto& row : QueryRows(m_db, "SELECT SurveyID, ReplyDate FROM SurveyReply")) {
    EXPECT_EQ(row[0], kSurvey);
    EXPECT_EQ(row[1].size(), 19u) << row[1];  // YYYY-MM-DD HH:MM:SS
  }

  // The consumed replies are filed; the robot's went to Skipped at once.
  auto ack = testing_support::Run(m_bin + "/LVEmailAccess", {"--acknowledge"});
  EXPECT_EQ(ack.exitCode, 0) << ack.err;
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Inbox"), 0u);
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Processed"), 3u);
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Skipped"), 1u);

  // Nothing waits: a second fetch stores nothing.
  LvMAPI({"church.db", "4"});
  EXPECT_EQ(Count("SurveyReply"), "3");
  EXPECT_NE(ReadFile(m_bin + "/LvMAPI.log").find("Number of survey responses read from file: 0\r\n"),
            std::string::npos);
}

TEST_F(FullLoop, AReplyOfferedAgainAfterAFailedRunIsStoredOnce) {
  LvMAPI({"church.db", "2", kSurvey});
  PeopleReply();
  // The first fetch runs against a database that refuses the replies, as if
  // LvMAPI failed half-way: the exchange file stays, nothing is stored.
  fs::rename(m_db, m_db + ".away");
  auto failed = testing_support::Run(m_bin + "/LvMAPI", {"church.db", "4"}, {}, m_dir.path());
  EXPECT_NE(failed.exitCode, 0);
  fs::rename(m_db + ".away", m_db);
  EXPECT_EQ(Count("SurveyReply"), "0");

  // The next run offers the replies again and stores each once.
  LvMAPI({"church.db", "4"});
  EXPECT_EQ(Count("SurveyReply"), "3");
  LvMAPI({"church.db", "4"});
  EXPECT_EQ(Count("SurveyReply"), "3");
  EXPECT_EQ(Count("SurveyResponse"), "17");
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Inbox"), 0u);
  EXPECT_EQ(CountMessages(m_bin + "/Mail/Processed"), 3u);
}

}  // namespace
