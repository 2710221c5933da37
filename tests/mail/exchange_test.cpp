#include "mail/exchange.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "app/reply_intake.h"
#include "exchange/operations.h"
#include "mail_access_stand_in.h"
#include "platform/program_path.h"
#include "test_support.h"
#include "util/identifiers.h"

using testing_support::MailAccessCall;
using testing_support::ReadFile;
using testing_support::RecordedMailAccessCalls;
using testing_support::ScratchDir;
using testing_support::Visible;
using testing_support::WriteFile;

namespace {

std::string ProgramFolder() {
  std::string path = platform::RunningProgramPath();
  return path.substr(0, path.find_last_of('/') + 1);
}

TEST(NewExchangeFilePath, IsABareUpperCaseGuidWithTmpBesideTheProgram) {
  const std::string path = NewExchangeFilePath();
  const std::string folder = ProgramFolder();
  ASSERT_EQ(path.substr(0, folder.size()), folder);
  const std::string name = path.substr(folder.size());
  EXPECT_TRUE(std::regex_match(name, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.tmp")))
      << name;
  EXPECT_EQ(name.find_first_of("{}"), std::string::npos);
}

TEST(NewExchangeFilePath, NeverRepeatsAName) {
  EXPECT_NE(NewExchangeFilePath(), NewExchangeFilePath());
}

TEST(OutgoingExchangeText, NamesTheMailingThenListsRecipientPairsInOrderThenTheBodyWithoutALineEnd) {
  const std::vector<MailRecipient> recipients = {
      {"{P1}", "Ann", "", "Lee", "ann@example.org"},
      {"{P2}", "Robert", "James", "O'Brien", "rob@example.org"},
      {kSentinelGuid, "", "", "", "elders@example.org"},
  };
  EXPECT_EQ(OutgoingExchangeText(recipients, "Hello\r\nthere", "survey {5A5A0000-1111-4222-8333-944445555666}"),
            "<Mailing>survey {5A5A0000-1111-4222-8333-944445555666}</Mailing>\n"
            "<Recipient1>Ann Lee</Recipient1>\n<Email1>ann@example.org</Email1>\n"
            "<Recipient2>Robert James O'Brien</Recipient2>\n<Email2>rob@example.org</Email2>\n"
            "<Recipient3></Recipient3>\n<Email3>elders@example.org</Email3>\n"
            "<Body>Hello\r\nthere</Body>");
}

TEST(OutgoingExchangeText, WithoutRecipientsHoldsOnlyTheMailingAndTheBody) {
  EXPECT_EQ(OutgoingExchangeText({}, "text", "goal {G1}"), "<Mailing>goal {G1}</Mailing>\n<Body>text</Body>");
}

TEST(ReadTextFile, ReplacesTheStreamWithTheFileBytesUnconverted) {
  ScratchDir dir;
  std::string content = "line one\r\nline two\nlone cr\r";
  content += std::string("\0nul", 4);
  while (content.size() < 40000) content += "filler text beyond one read chunk\r\n";
  WriteFile(dir.file("in.tmp"), content);

  std::stringstream stream;
  stream << "old text that must go";
  ASSERT_TRUE(ReadTextFile(dir.file("in.tmp"), stream));
  EXPECT_EQ(stream.str(), content);
}

TEST(ReadTextFile, EmptyFileGivesEmptyText) {
  ScratchDir dir;
  WriteFile(dir.file("empty.tmp"), "");
  std::stringstream stream;
  stream << "old";
  EXPECT_TRUE(ReadTextFile(dir.file("empty.tmp"), stream));
  EXPECT_EQ(stream.str(), "");
}

TEST(ReadTextFile, MissingFileReportsFalseAndLeavesTheStreamEmpty) {
  ScratchDir dir;
  std::stringstream stream;
  stream << "old text";
  EXPECT_FALSE(ReadTextFile(dir.file("never-written.tmp"), stream));
  EXPECT_EQ(stream.str(), "");
}

// Runs the in-process calls against a stand-in found on PATH (the test
// program's own folder holds no mail-access program).
class MailAccessOnPath : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(testing_support::Exists(ProgramFolder() + exchange::kMailAccessProgram));
    const char* old = std::getenv("PATH");
    m_oldPath = old ? old : "";
    setenv("PATH", (m_bin.path() + ":" + m_oldPath).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", m_oldPath.c_str(), 1); }

  // A shell script, so that a case can run shell commands before it exits;
  // it records its calls as the shared stand-in does.
  void InstallStandIn(int exitCode = 0, const std::string& extraShell = "") {
    const std::string program = m_bin.file(exchange::kMailAccessProgram);
    const std::string rec = m_record.path();
    WriteFile(program,
              "#!/bin/sh\n"
              "rec='" + rec + "'\n"
              "mkdir -p \"$rec\" || exit 98\n"
              "n=1\n"
              "while ! mkdir \"$rec/call$n\" 2>/dev/null; do\n"
              "  n=$((n+1)); [ $n -gt 1000 ] && exit 99\n"
              "done\n"
              "printf '%s' \"$0\" > \"$rec/call$n/program\"\n"
              "printf '%s\\0' \"$@\" > \"$rec/call$n/args\"\n"
              "if [ -f \"$2\" ]; then cp \"$2\" \"$rec/call$n/exchange\"; fi\n" +
                  extraShell + "\nexit " + std::to_string(exitCode) + "\n");
    chmod(program.c_str(), 0750);
  }
  std::vector<MailAccessCall> Calls() { return RecordedMailAccessCalls(m_record.path()); }

  ScratchDir m_bin;
  ScratchDir m_record;
  std::string m_oldPath;
};

TEST_F(MailAccessOnPath, PassesOperationPathSubjectAndFlagAsSeparateArguments) {
  InstallStandIn();
  std::ostringstream log;
  const std::string subject = "Corvane Survey - \"Spring\" 'review' $HOME `x`  two  blanks";
  EXPECT_TRUE(RunEmailAccess(log, "/some folder/with blank.tmp", exchange::kFetchReplies, subject, 1));

  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].program, m_bin.file(exchange::kMailAccessProgram)) << "found on PATH";
  EXPECT_EQ(calls[0].args, (std::vector<std::string>{"4", "/some folder/with blank.tmp", subject, "1"}));
  EXPECT_EQ(log.str(), "");
}

TEST_F(MailAccessOnPath, WaitsForTheEndAndLogsOnlyAnEndOtherThanSuccess) {
  const std::string longLine(600, 'x');
  struct Case {
    int exitCode;
    std::string shell;  // runs before the exit
    std::string log;
  };
  const Case cases[] = {
      {0, "echo 'just talking' >&2", ""},
      {3, "printf 'first\\r\\nsecond' >&2",
       "The mail-access program ended with status 3: failure, see LVEmailAccess.log\n  first\n  second\n"},
      {64, "", "The mail-access program ended with status 64: bad arguments\n"},
      {65, "echo 'recipient skipped: \"Bo\"' >&2",
       "The mail-access program ended with status 65: some recipients have no usable e-mail address, the others "
       "were sent\n  recipient skipped: \"Bo\"\n"},
      {75, "", "The mail-access program ended with status 75: temporary failure, nothing is lost and the next run "
               "completes it\n"},
      {78, "", "The mail-access program ended with status 78: the settings or the login are wrong and a person must "
               "fix LVEmailAccess.conf\n"},
      {0, "echo dying >&2; kill -9 $$", "The mail-access program was stopped by signal 9\n  dying\n"},
      {1, "i=0; while [ $i -lt 30 ]; do echo " + longLine + " >&2; i=$((i+1)); done",
       "The mail-access program ended with status 1: failure, see LVEmailAccess.log\n" + [&] {
         std::string lines;
         for (int i = 0; i < 20; ++i) lines += "  " + longLine.substr(0, 500) + "\n";
         return lines + "  (10 more line(s) left out)\n";
       }()},
  };
  for (const Case& c : cases) {
    ScratchDir marker;
    InstallStandIn(c.exitCode, c.shell + "\nsleep 0.1; : > '" + marker.file("done") + "'");
    std::ostringstream log;
    EXPECT_TRUE(RunEmailAccess(log, "x.tmp", exchange::kSendSurvey, "s", 0)) << c.shell;
    EXPECT_EQ(log.str(), c.log) << c.shell;
    if (c.shell.find("kill") == std::string::npos) {
      EXPECT_TRUE(testing_support::Exists(marker.file("done"))) << "returned before the program ended";
    }
  }
}

TEST_F(MailAccessOnPath, TheJobKeepsItsMostSeriousOutcome) {
  struct Case {
    std::vector<int> exits;
    int job;
  };
  const Case cases[] = {
      {{}, 0},         {{0, 0}, 0},         {{65, 0}, 65},           {{65, 75, 0}, 75},
      {{75, 3}, 1},    {{64, 75}, 1},       {{1, 78, 75, 65}, 78},   {{78, 1}, 78},
  };
  for (const Case& c : cases) {
    ResetMailAccessJobStatus();
    for (int exit : c.exits) {
      InstallStandIn(exit);
      std::ostringstream log;
      RunEmailAccess(log, "x.tmp", exchange::kSendSurvey, "s", 0);
    }
    EXPECT_EQ(MailAccessJobStatus(), c.job) << ::testing::PrintToString(c.exits);
  }
  ResetMailAccessJobStatus();
}

TEST_F(MailAccessOnPath, MissingProgramIsLoggedOnceWithTheReason) {
  std::ostringstream log;
  EXPECT_FALSE(RunEmailAccess(log, "x.tmp", exchange::kSendSurvey, "s", 0));
  EXPECT_EQ(log.str(), "The mail-access program could not be started (LVEmailAccess): No such file or directory\n");
}

TEST_F(MailAccessOnPath, ProgramThatIsNotExecutableIsLoggedWithTheReason) {
  WriteFile(m_bin.file(exchange::kMailAccessProgram), "#!/bin/sh\nexit 0\n");  // no execute permission
  std::ostringstream log;
  EXPECT_FALSE(RunEmailAccess(log, "x.tmp", exchange::kSendSurvey, "s", 0));
  EXPECT_EQ(log.str(), "The mail-access program could not be started (LVEmailAccess): Permission denied\n");
  EXPECT_TRUE(Calls().empty());
}

TEST_F(MailAccessOnPath, SendingWritesNormalisedPrivateFileRunsTheProgramAndDeletesTheFile) {
  const mode_t umaskBefore = umask(022);
  InstallStandIn(0, "stat -c %a \"$2\" > \"$rec/call$n/mode\"");
  std::ostringstream log;
  const std::string text =
      OutgoingExchangeText({{"{P1}", "Ann", "", "Lee", "ann@example.org"}}, "Hi\r\nyou\n", "goal {G1}");
  EXPECT_TRUE(
      SendOutgoingExchange(log, text, exchange::kSendGoalNotification, "Corvane Strategy: New Goal: Meal", "Meal"));

  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0].args.size(), 4u);
  const std::string path = calls[0].args[1];
  EXPECT_EQ(calls[0].args[0], "1");
  EXPECT_EQ(calls[0].args[2], "Corvane Strategy: New Goal: Meal");
  EXPECT_EQ(calls[0].args[3], "0");
  EXPECT_EQ(path.substr(0, ProgramFolder().size()), ProgramFolder());
  ASSERT_TRUE(calls[0].hadExchange);
  EXPECT_EQ(Visible(calls[0].exchange),
            Visible("<Mailing>goal {G1}</Mailing>\r\n<Recipient1>Ann Lee</Recipient1>\r\n"
                    "<Email1>ann@example.org</Email1>\r\n<Body>Hi\r\r\nyou\r\n</Body>"));
  EXPECT_EQ(testing_support::ReadFile(m_record.file("call1/mode")), "600\n") << "readable by this account only";
  umask(umaskBefore);
  EXPECT_FALSE(testing_support::Exists(path)) << "exchange file left behind";
  EXPECT_EQ(log.str(), "Creating output file: " + path + "\n");
}

TEST_F(MailAccessOnPath, SendingWithoutTheProgramStillDeletesTheFileAndSaysWhy) {
  std::ostringstream log;
  EXPECT_FALSE(SendOutgoingExchange(log, "<Body>x</Body>", exchange::kSendSurvey, "Corvane Survey - T", "T"));
  const std::string logText = log.str();
  const std::string head = "Creating output file: ";
  ASSERT_EQ(logText.compare(0, head.size(), head), 0) << logText;
  const std::string path = logText.substr(head.size(), logText.find('\n') - head.size());
  EXPECT_EQ(logText, head + path + "\n" +
                         "The mail-access program could not be started (LVEmailAccess): No such file or directory\n");
  EXPECT_FALSE(testing_support::Exists(path));
}

// What the mail-access program tells about a mailing (how much is out, when
// the rest follows) stands in the run log under the mailing's title; LvMAPI
// ends as the program did: 0 when the rest is queued under the provider's
// pace, 75 when the provider could not be reached.
TEST_F(MailAccessOnPath, WhatTheProgramTellsOfAMailingStandsUnderItsTitle) {
  const std::string paced = "30 of 300 sent; the other 270 go out by themselves by about 10:42.";
  const struct {
    const char* title;
    const char* subject;
    std::string said;  // the program's standard output
    int exitCode;
    std::string log;   // after the "Creating output file" line
  } cases[] = {
      {"Spring Ministry Survey", "Corvane Survey - Spring Ministry Survey", paced + "\r\n", 0,
       "Spring Ministry Survey: " + paced + "\n"},
      {" ", "Corvane Strategy: New Goal: ", "1 sent\nsecond line\n", 0,
       "Corvane Strategy: New Goal: 1 sent\nCorvane Strategy: New Goal: second line\n"},
      {"Meal Rota", "Corvane Strategy: New Goal: Meal Rota", "0 sent\n", 75,
       "Meal Rota: 0 sent\nThe mail-access program ended with status 75: temporary failure, nothing is lost and "
       "the next run completes it\n"},
  };
  for (const auto& c : cases) {
    ResetMailAccessJobStatus();
    InstallStandIn(c.exitCode, "printf '" + c.said + "'");
    std::ostringstream log;
    EXPECT_TRUE(SendOutgoingExchange(log, "<Body>x</Body>", exchange::kSendSurvey, c.subject, c.title));
    EXPECT_EQ(log.str().substr(log.str().find('\n') + 1), c.log) << c.subject;
    EXPECT_EQ(MailAccessJobStatus(), c.exitCode) << c.subject;
  }
  ResetMailAccessJobStatus();
}

// A file the exchange could not finish with (replaced here by a folder of
// its name, which no file call can remove or read as a file, as a file a
// scanner holds): what becomes of it, and what the job's status says.
class StuckExchangeFile : public MailAccessOnPath {
 protected:
  void SetUp() override {
    MailAccessOnPath::SetUp();
    ResetMailAccessJobStatus();
    InstallStandIn(0, "rm -f \"$2\"; mkdir \"$2\"; echo \"$2\" > \"$rec/stuck\"");
  }
  void TearDown() override {
    if (testing_support::Exists(m_record.file("stuck"))) std::filesystem::remove_all(Stuck());
    std::filesystem::remove(m_leftOvers);
    ResetMailAccessJobStatus();
    MailAccessOnPath::TearDown();
  }
  std::string Stuck() {
    std::string path = ReadFile(m_record.file("stuck"));
    if (!path.empty()) path.pop_back();
    return path;
  }
  const std::string m_leftOvers = ProgramFolder() + "LvMAPI.leftover";
};

TEST_F(StuckExchangeFile, AnOutgoingFileNotDeletedIsListedAndALaterRunDeletesIt) {
  std::ostringstream log;
  EXPECT_TRUE(SendOutgoingExchange(log, "<Body>x</Body>", exchange::kSendSurvey, "Corvane Survey - T", "T"));
  const std::string path = Stuck();
  ASSERT_TRUE(testing_support::Exists(path));
  EXPECT_NE(log.str().find("Could not delete the exchange file " + path), std::string::npos) << log.str();
  EXPECT_EQ(ReadFile(m_leftOvers), path + "\n");

  std::ostringstream later;
  DeleteLeftOverExchangeFiles(later);  // still in the way: stays listed
  EXPECT_EQ(ReadFile(m_leftOvers), path + "\n");
  std::filesystem::remove(path);
  WriteFile(path, "<Recipient1>Ann Lee</Recipient1>");
  DeleteLeftOverExchangeFiles(later);
  EXPECT_FALSE(testing_support::Exists(path)) << "the names and addresses stayed behind";
  EXPECT_FALSE(testing_support::Exists(m_leftOvers));
  EXPECT_EQ(later.str(), "Deleted the exchange file left over by an earlier run: " + path + "\n");
  EXPECT_EQ(MailAccessJobStatus(), 0);
}

TEST_F(StuckExchangeFile, AnIncomingFileNotReadFailsTheJobAndStaysForTheMailAccessProgram) {
  std::ostringstream log;
  EXPECT_EQ(LVML_ProcessSurveyReplyEmails(&log, 0, false), 0);
  const std::string path = Stuck();
  EXPECT_EQ(MailAccessJobStatus(), exchange::kExitTemporary) << "never 0 with fetched replies unread";
  EXPECT_NE(log.str().find("Could not read the input file: "), std::string::npos) << log.str();
  EXPECT_EQ(log.str().find("Number of survey responses read from file"), std::string::npos) << log.str();
  // Left where it is, and not listed: its deletion would tell the mail-access
  // program the replies were read.
  EXPECT_TRUE(testing_support::Exists(path));
  EXPECT_FALSE(testing_support::Exists(m_leftOvers));
}

}  // namespace
