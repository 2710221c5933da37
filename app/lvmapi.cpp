#include "app/lvmapi.h"

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "app/reply_intake.h"
#include "bizobjects/settings.h"
#include "exchange/operations.h"
#include "mail/exchange.h"
#include "platform/directory.h"
#include "platform/files.h"
#include "platform/program_path.h"
#include "strategy/goal_notification.h"
#include "surveys/survey_send.h"
#include "tarnbase/tarnbase.h"
#include "util/run_log.h"
#include "util/text_files.h"

namespace {

constexpr const char kUsage[] =
    "Usage: LvMAPI <database> <cmd> [guid1 [guid2]]\n"
    "  <database>  the database file, relative to the folder LvMAPI is in\n"
    "  1  tell the person responsible for each goal of strategy guid1 about the goal\n"
    "     (only goal guid2 when given)\n"
    "  2  send survey guid1 by e-mail, with tags to type the answers between\n"
    "  3  send survey guid1 as plain text, without answer tags\n"
    "  4  fetch the survey replies and store the answers\n"
    "  5  the same, then fetch the goal status replies and store each goal's status\n"
    "Exit status: 0 done; 64 bad arguments; 73 nothing can be written in the\n"
    "program's folder; 75 a file is in use by another program (try again later);\n"
    "78, 1, 75 or 65 when the mail-access program failed (see LvMAPI.log beside\n"
    "the program).\n";

// The run log, the exchange files and Mail go beside the program: where
// nothing can be written, nothing is started (the mail-access program would
// only report a missing exchange file), and the caller is told which folder.
bool FolderWritable() {
  std::string folder = PathBesideProgram("");
  if (folder.empty()) folder.push_back('.');
  if (platform::IsWritableDirectory(folder)) return true;
  std::cout.flush();
  std::cerr << "LvMAPI: nothing can be written in the folder " << folder
            << " (the run log, the exchange files and Mail go there); nothing was started" << std::endl;
  return false;
}

// Writes the run log; when that fails (held by another program past the
// waiting, or a full disk) standard error says so, and the job's status is
// no longer 0.
int WriteRunLog(const std::string& path, const std::string& text, int status) {
  std::string why;
  if (WriteTextFile(path, text, platform::FileAccess::Shared, &why)) return status;
  std::cout.flush();
  std::cerr << "LvMAPI: the run log could not be written: " << why << std::endl;
  return status != 0 ? status : exchange::kExitTemporary;
}

// The caller gave arguments no job can run on: the run log already says
// which; the terminal gets the usage.
int BadArguments() {
  std::cout.flush();
  std::cerr << kUsage;
  return exchange::kExitUsage;
}

// What the command line gives a job beyond its command.
struct JobArguments {
  int command = 0;
  std::string guid1;
  std::string guid2;
};

// A job runs its workflow and answers false when its arguments are not
// enough to run on (the run log then says why).
using Job = bool (*)(const JobArguments&, RunLog& log);

bool SendGoalNotifications(const JobArguments& args, RunLog& log) {
  if (args.guid1.empty()) {
    log << "Error.  Send goal status command with empty guid1." << std::endl;
    return false;
  }
  log << "Calling LVML_SendStatusEmails" << std::endl;
  LVML_SendStatusEmails(args.guid2, &log, args.guid1);
  return true;
}

bool SendSurvey(const JobArguments& args, RunLog& log) {
  log << "Calling LVML_SendSurveyEmails" << std::endl;
  if (args.guid1.empty()) {
    log << "Error.  Send survey command with empty guid1." << std::endl;
    return false;
  }
  LVML_SendSurveyEmails(args.guid1, &log, args.command == 3);
  return true;
}

bool ProcessReplies(const JobArguments& args, RunLog& log) {
  log << "Calling LVSAL_GetOutlookAutomationForEmailOn" << std::endl;
  bool automation = false;
  LVSAL_GetOutlookAutomationForEmailOn(&automation);
  // The main application reads these headings with the line ends it always had.
  log << (automation ? "PROCESS SURVEY REPLY EMAILS WITH AUTOMATION\n\r\n\r" : "PROCESS SURVEY REPLY EMAILS\n\r\n\r");
  LVML_ProcessSurveyReplyEmails(&log, automation ? 1 : 0, args.command == 5);
  return true;
}

// The five commands; 3 is 2 without answer tags, 5 is 4 with the goal status
// replies.
constexpr struct {
  int command;
  Job run;
} kJobs[] = {
    {1, SendGoalNotifications}, {2, SendSurvey}, {3, SendSurvey}, {4, ProcessReplies}, {5, ProcessReplies},
};

Job JobFor(int command) {
  for (const auto& job : kJobs) {
    if (job.command == command) return job.run;
  }
  return nullptr;
}

// Logs the arguments as given; false when there are too few to run a job.
bool LogArguments(int argc, char** argv, RunLog& log) {
  if (argc < 3) {
    log << "Not enough parameters: " << argc << std::endl;
    for (int i = 0; i < argc; ++i) log << "Argument " << i << ": " << argv[i] << std::endl;
    return false;
  }
  log << "Parameter pgmPath: " << argv[0] << std::endl;
  log << "Parameter database: " << argv[1] << std::endl;
  log << "Parameter cmd: " << argv[2] << std::endl;
  log << "Parameter guid1: " << (argc >= 4 ? argv[3] : "") << std::endl;
  log << "Parameter guid2: " << (argc >= 5 ? argv[4] : "") << std::endl;
  return true;
}

// Runs the job the arguments name; false when they name none or are not
// enough for it.
bool RunJob(int argc, char** argv, RunLog& log) {
  if (!LogArguments(argc, argv, log)) return false;
  const std::string cmd = argv[2];
  JobArguments args;
  args.command = std::atoi(cmd.c_str());
  if (argc >= 4) args.guid1 = argv[3];
  if (argc >= 5) args.guid2 = argv[4];

  if (const std::string store = platform::VirtualStoreFolder(); !store.empty()) {
    log << "The program's folder cannot be written; its files are read and written in " << store << std::endl;
  }
  const std::string databasePath = PathBesideProgram(argv[1]);
  if (platform::CopiedIntoVirtualStore(databasePath)) {
    log << "The database was copied there from the program's folder: " << databasePath << std::endl;
  }
  log << "Setting database path: " << databasePath << std::endl;
  SetDBPath(databasePath.c_str());

  const Job job = JobFor(args.command);
  if (!job) {
    log << "Unknown command: " << cmd << std::endl;
    return false;
  }
  DeleteLeftOverExchangeFiles(log);
  return job(args, log);
}

}  // namespace

int LvMAPIMain(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (!FolderWritable()) return exchange::kExitCannotCreate;
  std::stringstream log;
  const std::string logPath = RunLogPath();
  ResetMailAccessJobStatus();
  log << "Entering LvMAPI.exe" << std::endl;
  bool ran = false;
  try {
    ran = RunJob(argc, argv, log);
  } catch (...) {
    WriteRunLog(logPath, log.str(), 1);
    throw;
  }
  if (!ran) {
    WriteRunLog(logPath, log.str(), exchange::kExitUsage);
    return BadArguments();
  }
  return WriteRunLog(logPath, log.str(), MailAccessJobStatus());
}
