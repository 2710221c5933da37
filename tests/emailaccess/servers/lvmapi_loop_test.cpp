// The whole road on real protocols: LvMAPI sends the demo survey through the
// SMTP server, people answer into the IMAP inbox, LvMAPI fetches the answers
// over IMAP and stores them, the replies end in Processed, and nothing is
// stored twice.

#include "emailaccess/message/message_text.h"
#include "emailaccess/sending.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

namespace {

using emailaccess_test::Holds;
using emailaccess_test::ReplyText;
using emailaccess_test::ServerTest;
using testing_support::QueryRows;
using testing_support::ReadFile;
using testing_support::Visible;

const char kSurvey[] = "{6F1C2A40-3B5D-4C8E-9A71-2D4E5F60A1B2}";

class LvMAPIOverServers : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    Configure();
    testing_support::CreateDatabase(Bin("church.db"), true);
  }
  void LvMAPI(const std::vector<std::string>& args) {
    auto run = testing_support::Run(Bin("LvMAPI"), args, {{"TZ", "UTC"}}, m_dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  std::string Count(const std::string& table) {
    return QueryRows(Bin("church.db"), "SELECT COUNT(*) FROM " + table)[0][0];
  }
};

// The survey as its recipient sees it, with answers typed between the tags.
std::string Answered(std::string body, const std::vector<std::string>& answers) {
  for (size_t n = 1; n <= answers.size(); ++n) {
    const std::string open = "<answer" + std::to_string(n) + ">", close = "</answer" + std::to_string(n) + ">";
    const size_t start = body.find(open), end = body.find(close);
    if (start == std::string::npos || end < start) return "(no tag " + open + " in: " + body + ")";
    body.replace(start + open.size(), end - start - open.size(), answers[n - 1]);
  }
  return body;
}

TEST_F(LvMAPIOverServers, ASurveyTravelsOverSmtpAndImapAndItsAnswersAreStoredOnce) {
  LvMAPI({"church.db", "2", kSurvey});
  const auto delivered = m_servers->Messages("Delivered");
  ASSERT_EQ(delivered.size(), 6u) << "four persons and two extra addresses";
  EXPECT_EQ(m_servers->SmtpConnections(), 1);

  const std::map<std::string, std::vector<std::string>> answersBy = {
      {"ann.lee@example.org", {"True", "Yes", "9", "20", "12", "b"}},
      {"rob.obrien@example.org", {"False", "No", "7", "0", "3", "a"}},
      {"jane.visitor@example.net", {"True", "", "10", "", "1", "d"}},
  };
  int answered = 0;
  for (const std::string& raw : delivered) {
    const std::string to = emailaccess::RecipientOfMessage(raw);
    const auto sent = emailaccess::ReadIncomingMessage(raw, "nobody@example.org");
    ASSERT_TRUE(sent.parsed);
    ASSERT_TRUE(Holds(sent.subject, "Corvane Survey - ")) << sent.subject;
    auto answers = answersBy.find(to);
    if (answers != answersBy.end()) {
      const std::string body = Answered(sent.body, answers->second);
      ASSERT_FALSE(Holds(body, "(no tag")) << body;
      m_servers->Deliver("INBOX", ReplyText(to, "Re: " + sent.subject, body));
      ++answered;
    } else if (to == "david.kim@example.org") {
      m_servers->Deliver("INBOX", "Auto-Submitted: auto-replied\r\n" +
                                      ReplyText(to, "Out of office: " + sent.subject, "Back on Monday.\r\n"));
    }
  }
  ASSERT_EQ(answered, 3);

  LvMAPI({"church.db", "4"});
  EXPECT_TRUE(Holds(ReadFile(Bin("LvMAPI.log")), "Number of survey responses read from file: 3\r\n"))
      << Visible(ReadFile(Bin("LvMAPI.log")));
  EXPECT_EQ(Count("SurveyReply"), "3");
  EXPECT_EQ(Count("SurveyResponse"), "16");  // 6 + 6 + 4 answered questions
  const auto rows = QueryRows(Bin("church.db"),
                              "SELECT r.ReplyEmail, q.SurveyQuestionNumber, s.SurveyQuestionResponse "
                              "FROM SurveyReply r JOIN SurveyResponse s ON s.ReplyID = r.ReplyID "
                              "JOIN SurveyQuestion q ON q.SurveyQuestionID = s.SurveyQuestionID "
                              "WHERE q.SurveyQuestionNumber IN (3, 6) ORDER BY r.ReplyEmail, 2");
  const std::vector<std::vector<std::string>> expected = {
      {"ann.lee@example.org", "3", "9"},       {"ann.lee@example.org", "6", "b"},
      {"jane.visitor@example.net", "3", "10"}, {"jane.visitor@example.net", "6", "d"},
      {"rob.obrien@example.org", "3", "7"},    {"rob.obrien@example.org", "6", "a"},
  };
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(m_servers->Messages("Skipped").size(), 1u) << "the out-of-office note";
  EXPECT_TRUE(m_servers->Messages("Processed").empty()) << "filed only after LvMAPI consumed the file";

  // The next command 4 files the consumed replies and finds nothing new.
  LvMAPI({"church.db", "4"});
  EXPECT_TRUE(Holds(ReadFile(Bin("LvMAPI.log")), "Number of survey responses read from file: 0\r\n"));
  EXPECT_EQ(Count("SurveyReply"), "3");
  EXPECT_EQ(m_servers->Messages("Processed").size(), 3u);
  EXPECT_TRUE(m_servers->Messages("INBOX").empty());
  for (const auto& name : testing_support::ListFolder(Bin(""))) {
    EXPECT_FALSE(name.ends_with(".tmp")) << "an exchange file was left behind: " << name;
  }
  EXPECT_FALSE(Holds(Log(), "secret"));
}

// A login the server refuses reaches the office through LvMAPI's run log and
// exit status, not only through a terminal nobody watches.
TEST_F(LvMAPIOverServers, ARefusedLoginEndsTheRunWith78AndTheReasonInTheRunLog) {
  emailaccess_test::ClientOptions wrong;
  wrong.imapPassword = "wrong-imap-pass";
  Configure(wrong);
  const auto run = testing_support::Run(Bin("LvMAPI"), {"church.db", "4"}, {{"TZ", "UTC"}}, m_dir.path());
  EXPECT_EQ(run.exitCode, 78) << run.err;
  const std::string log = ReadFile(Bin("LvMAPI.log"));
  EXPECT_TRUE(Holds(log, "The mail-access program ended with status 78: the settings or the login are wrong and a "
                         "person must fix LVEmailAccess.conf\r\n  LVEmailAccess: "))
      << Visible(log);
  EXPECT_TRUE(Holds(log, "the server refused the login of user church")) << Visible(log);
  EXPECT_FALSE(Holds(log, "wrong-imap-pass")) << "never a password";
}

}  // namespace
