// Commands 2 and 3 end to end: LvMAPI runs from a copied install folder whose
// mail-access program is a stand-in that records its arguments and keeps a
// copy of the exchange file.
#include "surveys/survey_send.h"

#include <gtest/gtest.h>

#include <sstream>

#include "mail_access_stand_in.h"
#include "surveys/survey_body.h"
#include "platform/process.h"
#include "test_support.h"
#include "util/text_files.h"

using testing_support::ReadFile;
using testing_support::RecordedMailAccessCalls;
using testing_support::RunResult;
using testing_support::ScratchDir;
using testing_support::Visible;

namespace {

const std::string kSurveyId = "{5A5A0000-1111-4222-8333-944445555666}";

// One survey with a scale question and a multiple-choice question (stored out
// of number order), three persons (one nameless, one without address), two
// extra addresses (one of them a person's), a second survey listed first,
// and a person of another survey.
const char kSurveyData[] =
    "INSERT INTO Survey VALUES ('{0THER000-0000-4000-8000-000000000000}','Other','g','i'),"
    " ('{5A5A0000-1111-4222-8333-944445555666}','Parish \"Life\" Survey','Dear all,' || char(10) || 'welcome',"
    "  'Answer below.');"
    "INSERT INTO Person VALUES ('P1','Ann','','Lee','ann@example.org','','','','','','','',''),"
    " ('P2','','','','nobody@example.org','','','','','','','',''),"
    " ('P3','Bob','J','Ray','','','','','','','','',''),"
    " ('P4','Not','In','Survey','no@example.org','','','','','','','','');"
    "INSERT INTO SurveyPersonXRef VALUES ('{5A5A0000-1111-4222-8333-944445555666}','P1'),"
    " ('{5A5A0000-1111-4222-8333-944445555666}','P2'), ('{5A5A0000-1111-4222-8333-944445555666}','P3'),"
    " ('{0THER000-0000-4000-8000-000000000000}','P4');"
    "INSERT INTO SurveyOtherEmail VALUES ('E1','{5A5A0000-1111-4222-8333-944445555666}','extra@example.org'),"
    " ('E2','{5A5A0000-1111-4222-8333-944445555666}','ann@example.org');"
    "INSERT INTO SurveyQuestion VALUES ('{Q2}',2,6,0,0,'{ab000000-0000-4000-8000-00000000000c}','Favourite colour?'),"
    " ('{Q1}',1,3,1,5,'','How welcome?');"
    "INSERT INTO SurveyQuestionXRef VALUES ('{5A5A0000-1111-4222-8333-944445555666}','{Q2}'),"
    " ('{5A5A0000-1111-4222-8333-944445555666}','{Q1}');"
    "INSERT INTO SurveyMultipleChoiceSet VALUES ('AB000000-0000-4000-8000-00000000000C','Colors');"
    "INSERT INTO SurveyMultipleChoiceAnswer VALUES ('a1','Red'), ('a2','Blue');"
    "INSERT INTO SurveyMultipleChoiceXRef VALUES ('AB000000-0000-4000-8000-00000000000C','a1',1),"
    " ('AB000000-0000-4000-8000-00000000000C','a2',2);"
    "INSERT INTO SurveyQuestionType VALUES ('3','Scale'), ('6','Multiple choice');";

// The mailing's name and the recipient lines of that survey as they stand in
// the exchange file: persons in query order, then the extra addresses,
// numbered without gaps.
const char kRecipientLines[] =
    "<Mailing>survey {5A5A0000-1111-4222-8333-944445555666}</Mailing>\r\n"
    "<Recipient1>Ann Lee</Recipient1>\r\n<Email1>ann@example.org</Email1>\r\n"
    "<Recipient2></Recipient2>\r\n<Email2>nobody@example.org</Email2>\r\n"
    "<Recipient3>Bob J Ray</Recipient3>\r\n<Email3></Email3>\r\n"
    "<Recipient4></Recipient4>\r\n<Email4>extra@example.org</Email4>\r\n"
    "<Recipient5></Recipient5>\r\n<Email5>ann@example.org</Email5>\r\n";

// What a text built in memory becomes in the exchange file.
std::string OnDisk(std::string text) {
  NormalizeLineBreaks(text);
  return text;
}

class SurveySend : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::CopyInstall(m_bin);
    testing_support::CreateDatabase(m_bin + "/survey.db");
    testing_support::WriteMailAccessStandIn(m_bin + "/LVEmailAccess", m_record);
  }

  RunResult Send(const std::string& command, const std::string& surveyId) {
    return testing_support::Run(m_bin + "/LvMAPI", {"survey.db", command, surveyId},
                                {{"TARNBASE_TRACE", m_trace}, {"PATH", m_path}});
  }
  void Exec(const std::string& sql) { testing_support::ExecSql(m_bin + "/survey.db", sql); }
  // The run log from the line that starts the survey workflow on, line ends shown.
  std::string WorkflowLog() {
    const std::string log = ReadFile(m_bin + "/LvMAPI.log");
    const size_t start = log.find("Calling LVML_SendSurveyEmails");
    return Visible(start == std::string::npos ? log : log.substr(start));
  }
  // The one mail-access call of the run, with its four arguments; false (and
  // a test failure) when there was not exactly one such call.
  bool OnlyCall(testing_support::MailAccessCall& call) {
    const auto calls = RecordedMailAccessCalls(m_record);
    EXPECT_EQ(calls.size(), 1u);
    if (calls.size() != 1) return false;
    EXPECT_EQ(calls[0].args.size(), 4u);
    call = calls[0];
    return call.args.size() == 4;
  }
  std::vector<std::string> TmpFiles() {
    std::vector<std::string> left;
    for (const auto& name : testing_support::ListFolder(m_bin))
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") left.push_back(name);
    return left;
  }

  ScratchDir m_dir;
  std::string m_bin = m_dir.file("bin");
  std::string m_record = m_dir.file("record");
  std::string m_trace = m_dir.file("statements.txt");
  std::string m_path = "/usr/bin:/bin";
};

// The exchange file path the program logged, checked for its form.
void ExpectExchangePath(const std::string& path, const std::string& bin) {
  ASSERT_EQ(path.size(), bin.size() + 1 + 36 + 4) << path;
  EXPECT_EQ(path.substr(0, bin.size() + 1), testing_support::NativePath(bin + "/"));
  EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
  EXPECT_EQ(path.find_first_of("{}"), std::string::npos);
}

TEST_F(SurveySend, Command3SendsThePlainBodyToEveryRecipient) {
  Exec(kSurveyData);
  const RunResult run = Send("3", kSurveyId);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  EXPECT_TRUE(testing_support::IsStandIn(call.program, m_bin + "/LVEmailAccess")) << call.program;
  EXPECT_EQ(call.args[0], "2");
  ExpectExchangePath(call.args[1], m_bin);
  EXPECT_EQ(call.args[2], "Corvane Survey - Parish \"Life\" Survey");
  EXPECT_EQ(call.args[3], "0");
  // The greeting's stored line feed was made CR LF when read, and is
  // normalised once more when written, like every line break of the body.
  ASSERT_TRUE(call.hadExchange);
  EXPECT_EQ(Visible(call.exchange),
            Visible(std::string(kRecipientLines) +
                    OnDisk("<Body>\t\tParish \"Life\" Survey\r\n\r\nDear all,\r\nwelcome\r\n\r\n"
                           "Answer below.\r\n\r\n"
                           "1.    How welcome?\r\nPlease type in a number from 1 to 5\r\n\r\n"
                           "2.    Favourite colour?\r\nPlease type in the letter corresponding to your choice:\r\n"
                           "a)  Red\r\nb)  Blue\r\n\r\n"
                           "\r\n\r\nThank You!</Body>")));
  EXPECT_NE(call.exchange.find("Dear all,\r\r\nwelcome"), std::string::npos);
  EXPECT_EQ(call.exchange.substr(call.exchange.size() - 17), "Thank You!</Body>");
  EXPECT_TRUE(TmpFiles().empty()) << "exchange file left behind";
}

TEST_F(SurveySend, Command2SendsTheMachineReadableBodyAndLogsEveryStep) {
  Exec(kSurveyData);
  const RunResult run = Send("2", kSurveyId);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  const std::string path = call.args[1];
  EXPECT_EQ(call.args, (std::vector<std::string>{"2", path, "Corvane Survey - Parish \"Life\" Survey", "0"}));

  // The body is the renderer's, over the data as loaded: questions by number
  // with converted numbers, the set found whatever its spelling, and the
  // identifier as the command line gave it.
  SurveyMailing expected;
  expected.SurveyID = kSurveyId;
  expected.Title = "Parish \"Life\" Survey";
  expected.Greeting = "Dear all,\r\nwelcome";
  expected.Instructions = "Answer below.";
  expected.Questions = {{"{Q1}", 1, 3, "How welcome?", 1, 5, ""},
                        {"{Q2}", 2, 6, "Favourite colour?", 0, 0, "{ab000000-0000-4000-8000-00000000000c}"}};
  expected.MultipleChoiceSets = {
      {"AB000000-0000-4000-8000-00000000000C", "Colors", {{"a1", "Red", 1}, {"a2", "Blue", 2}}}};
  std::ostringstream body;
  SurveyBodyWriter writer(expected);
  RenderSurveyBody(body, writer, expected, true);
  EXPECT_EQ(Visible(call.exchange), Visible(kRecipientLines + OnDisk("<Body>" + body.str() + "</Body>")));
  EXPECT_NE(call.exchange.find(OnDisk("<answer2>  </answer2>\r\n")), std::string::npos);
  EXPECT_NE(call.exchange.find(OnDisk("<SurveyID>" + kSurveyId + "</SurveyID>\r\n<QuestionID1>{Q1}</QuestionID1>\r\n"
                                          "<QuestionID2>{Q2}</QuestionID2>\r\n\r\n\r\n</Body>")),
            std::string::npos);

  EXPECT_EQ(WorkflowLog(),
            Visible("Calling LVML_SendSurveyEmails\r\n"
                    "Inside LVML_SendSurveyEmails\r\n"
                    "Getting surveys from DB for ID: " + kSurveyId + "\r\n"
                    "Successful return from GetExistingSurveysFromDB ( " + kSurveyId + " )\r\n"
                    "    Title: Parish \"Life\" Survey\r\n"
                    "    Greeting: Dear all,\r\r\nwelcome\r\n"
                    "    Instructions: Answer below.\r\n"
                    "    Number of surveys: 2\r\n"
                    "Going through the file to extract the distribution list...\r\n"
                    "Found: Ann Lee.  EMail: ann@example.org\r\n"
                    "Found: .  EMail: nobody@example.org\r\n"
                    "Found: Bob J Ray.  EMail: \r\n"
                    "Found: .  EMail: extra@example.org\r\n"
                    "Found: .  EMail: ann@example.org\r\n"
                    "Creating output file: " + path + "\r\n"));
  EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(SurveySend, SendsTheExactStatementsWithTheIdentifierAsGiven) {
  Exec(kSurveyData);
  const std::string id = "{5a5a0000-1111-4222-8333-944445555666}";
  const RunResult run = Send("2", id);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string surveys = "SELECT SurveyID, SurveyTitle, SurveyGreeting, SurveyInstructions  FROM Survey\n";
  EXPECT_EQ(
      ReadFile(m_trace),
      surveys + surveys +
          "SELECT q.SurveyQuestionID, q.SurveyQuestionNumber, q.SurveyQuestionType, q.SurveyScaleMin, "
          "q.SurveyScaleMax, q.SurveyMultipleChoiceID, q.SurveyQuestion  FROM Survey survey INNER JOIN "
          "SurveyQuestionXRef xref ON xref.SurveyID = survey.SurveyID INNER JOIN SurveyQuestion q ON "
          "q.SurveyQuestionID = xref.SurveyQuestionID WHERE survey.SurveyID = '" + id +
          "' order by q.SurveyQuestionNumber ASC\n"
          "SELECT p.PersonID, p.FirstName, p.MiddleName, p.LastName, p.Email, p.HomePhone, p.WorkPhone, "
          "p.OtherPhone, p.Addr1, p.Addr2, p.City, p.State, p.Zip  FROM SurveyPersonXRef xref INNER JOIN Person p "
          "ON p.PersonID = xref.PersonId WHERE xref.SurveyID = '" + id + "'\n"
          "SELECT SurveyOtherEmailID, SurveyID, Email  FROM SurveyOtherEmail WHERE SurveyID = '" + id + "'\n"
          "SELECT QuestionType, QuestionTypeDesc  FROM SurveyQuestionType\n"
          "SELECT SurveyID, ReplyEmail FROM SurveyReply\n"
          "SELECT mcSet.MultipleChoiceSetID, mcSet.MultipleChoiceSetName, answer.AnswerID, answer.AnswerDesc, "
          "xref.AnswerNum FROM SurveyMultipleChoiceSet mcSet LEFT JOIN SurveyMultipleChoiceXRef xref ON "
          "xref.MultipleChoiceSetID = mcSet.MultipleChoiceSetID LEFT JOIN SurveyMultipleChoiceAnswer answer ON "
          "answer.AnswerID = xref.AnswerID ORDER BY mcSet.MultipleChoiceSetName, xref.AnswerNum ASC\n");

  // The header is matched with braces and letter case ignored; the footer
  // carries the identifier exactly as given.
  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  EXPECT_EQ(call.args[2], "Corvane Survey - Parish \"Life\" Survey");
  EXPECT_NE(call.exchange.find("<SurveyID>" + id + "</SurveyID>"), std::string::npos);
  // The mailing is named in registry form, as every spelling of it is.
  EXPECT_EQ(call.exchange.substr(0, call.exchange.find('\n') + 1),
            "<Mailing>survey {5A5A0000-1111-4222-8333-944445555666}</Mailing>\r\n");
}

// A later run of the mailing reminds only those who have not answered: a
// stored reply takes its sender off the list, whether the address is a
// person's or an extra one, and however the reply spelled the survey's
// identifier or the address's letters.
TEST_F(SurveySend, ThoseWhoAnsweredAreLeftOffTheListAndCounted) {
  Exec(kSurveyData);
  Exec("INSERT INTO SurveyReply VALUES ('R1','5a5a0000-1111-4222-8333-944445555666','Ann Lee <ANN@Example.org>','d'),"
       " ('R2','{5A5A0000-1111-4222-8333-944445555666}','Extra@example.org','d'),"
       " ('R3','{5A5A0000-1111-4222-8333-944445555666}','','d'),"
       " ('R9','{0THER000-0000-4000-8000-000000000000}','nobody@example.org','d');");
  ASSERT_EQ(Send("3", kSurveyId).exitCode, 0);  // the plain form is the same mailing
  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  EXPECT_EQ(Visible(call.exchange.substr(0, call.exchange.find("<Body>"))),
            Visible("<Mailing>survey {5A5A0000-1111-4222-8333-944445555666}</Mailing>\r\n"
                    "<Recipient1></Recipient1>\r\n<Email1>nobody@example.org</Email1>\r\n"
                    "<Recipient2>Bob J Ray</Recipient2>\r\n<Email2></Email2>\r\n"));
  EXPECT_NE(WorkflowLog().find(Visible("3 have already answered and are not mailed again\r\n"
                                       "Going through the file to extract the distribution list...\r\n")),
            std::string::npos)
      << WorkflowLog();
}

TEST_F(SurveySend, UnknownSurveyIsStillSentWithEmptyTexts) {
  Exec(kSurveyData);
  const std::string id = "{00000000-0000-0000-0000-000000000000}";
  ASSERT_EQ(Send("2", id).exitCode, 0);
  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  EXPECT_EQ(call.args[2], "Corvane Survey - ");
  const std::string head = OnDisk("<Mailing>survey {00000000-0000-0000-0000-000000000000}</Mailing>\n"
                                  "<Body>\t\t\r\n\r\n\r\n\r\n\r\n\r\n====");
  EXPECT_EQ(Visible(call.exchange.substr(0, head.size())), Visible(head));
  const std::string log = WorkflowLog();
  EXPECT_NE(log.find(Visible("Successful return from GetExistingSurveysFromDB ( " + id + " )\r\n"
                             "    Title: \r\n    Greeting: \r\n    Instructions: \r\n    Number of surveys: 2\r\n"
                             "Going through the file to extract the distribution list...\r\nCreating output file: ")),
            std::string::npos)
      << log;
}

TEST_F(SurveySend, EmptySurveyTableIsReportedAndAnEmptySurveyStillSent) {
  const RunResult run = Send("2", kSurveyId);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  testing_support::MailAccessCall call;
  ASSERT_TRUE(OnlyCall(call));
  EXPECT_EQ(call.args[0], "2");
  EXPECT_EQ(call.args[2], "Corvane Survey - ");
  // No recipients: the file holds the mailing's name and the body element alone.
  EXPECT_EQ(call.exchange.substr(0, call.exchange.find("<Body>")),
            "<Mailing>survey {5A5A0000-1111-4222-8333-944445555666}</Mailing>\r\n");
  EXPECT_EQ(call.exchange.substr(call.exchange.size() - 7), "</Body>");
  EXPECT_EQ(call.exchange.find("<Recipient"), std::string::npos);
  const std::string log = WorkflowLog();
  EXPECT_NE(log.find(Visible("Getting surveys from DB for ID: " + kSurveyId + "\r\n"
                             "FAILED return from GetExistingSurveysFromDB ( " + kSurveyId + " )\r\n"
                             "Going through the file to extract the distribution list...\r\n"
                             "Creating output file: ")),
            std::string::npos)
      << log;
  EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(SurveySend, MissingMailAccessProgramIsLoggedAndTheFileStillDeleted) {
  testing_support::ExecSql(m_bin + "/survey.db", kSurveyData);
  std::remove((m_bin + "/LVEmailAccess" + LVMAPI_EXE_SUFFIX).c_str());
  const RunResult run = Send("2", kSurveyId);
  ASSERT_EQ(run.exitCode, 1) << "nothing was sent: " << run.err;
  const std::string log = WorkflowLog();
  // The system's own words for a program that is not there.
  const std::string missing = platform::RunAndWait("LVEmailAccess-not-installed-anywhere", {}).error;
  const std::string tail = Visible("The mail-access program could not be started (LVEmailAccess" +
                                   std::string(LVMAPI_EXE_SUFFIX) + "): " + missing + "\r\n");
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
  EXPECT_NE(log.find("Creating output file: "), std::string::npos);
  EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(SurveySend, ProgramBesideLvMapiWinsOverPath) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows searches its own order (the program's folder, the current one, the system's, "
                  "then PATH, a list separated by ';'); the other tests start the copy beside the program";
#endif
  Exec(kSurveyData);
  ScratchDir onPath;
  testing_support::WriteMailAccessStandIn(onPath.file("LVEmailAccess"), onPath.file("record"));
  m_path = onPath.path() + ":/usr/bin:/bin";
  ASSERT_EQ(Send("2", kSurveyId).exitCode, 0);
  EXPECT_EQ(RecordedMailAccessCalls(m_record).size(), 1u);
  EXPECT_TRUE(RecordedMailAccessCalls(onPath.file("record")).empty());

  // Without one beside it, the program on PATH is used.
  std::remove((m_bin + "/LVEmailAccess" + LVMAPI_EXE_SUFFIX).c_str());
  ASSERT_EQ(Send("3", kSurveyId).exitCode, 0);
  const auto calls = RecordedMailAccessCalls(onPath.file("record"));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(testing_support::IsStandIn(calls[0].program, onPath.file("LVEmailAccess"))) << calls[0].program;
  EXPECT_TRUE(calls[0].hadExchange);
}

TEST_F(SurveySend, DatabaseFailureEndsTheRunBeforeAnyFileIsWritten) {
  Exec(kSurveyData);
  Exec("DROP TABLE SurveyOtherEmail;");
  const RunResult run = Send("2", kSurveyId);
  EXPECT_TRUE(run.exitCode != 0 || run.signal != 0) << "the failure must not look like success";
  EXPECT_TRUE(RecordedMailAccessCalls(m_record).empty());
  EXPECT_TRUE(TmpFiles().empty());
  EXPECT_TRUE(testing_support::Exists(m_bin + "/LV_DB_Log.txt"));
  const std::string log = WorkflowLog();
  EXPECT_NE(log.find("Getting surveys from DB"), std::string::npos) << "the run log is written on the way out";
  EXPECT_EQ(log.find("Creating output file"), std::string::npos);
}

}  // namespace
