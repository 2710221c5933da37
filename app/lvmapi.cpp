#include "app/lvmapi.h"

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "app/reply_intake.h"
#include "bizobjects/settings.h"
#include "mail/exchange.h"
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
    "Exit status: 0 done; 64 bad arguments; 78, 1, 75 or 65 when the mail-access\n"
    "program failed (see LvMAPI.log beside the program).\n";

constexpr int kExitBadArguments = 64;

// The caller gave arguments no job can run on: the run log already says
// which; the terminal gets the usage.
int BadArguments() {
  std::cout.flush();
  std::cerr << kUsage;
  return kExitBadArguments;
}

}  // namespace

int LvMAPIMain(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--help") {
    std::cout << kUsage;
    return 0;
  }
  std::string pgmPath, database, cmd, guid1, guid2;
  std::stringstream log;
  const std::string logPath = RunLogPath();
  ResetMailAccessJobStatus();

  try {
    log << "Entering LvMAPI.exe" << std::endl;
    if (argc < 3) {
      log << "Not enough parameters: " << argc << std::endl;
      for (int i = 0; i < argc; ++i) log << "Argument " << i << ": " << argv[i] << std::endl;
      WriteTextFile(logPath, log.str());
      return BadArguments();
    }

    pgmPath = argv[0];
    database = argv[1];
    cmd = argv[2];
    if (argc >= 4) guid1 = argv[3];
    if (argc >= 5) guid2 = argv[4];

    log << "Parameter pgmPath: " << pgmPath << std::endl;
    log << "Parameter database: " << database << std::endl;
    log << "Parameter cmd: " << cmd << std::endl;
    log << "Parameter guid1: " << guid1 << std::endl;
    log << "Parameter guid2: " << guid2 << std::endl;

    const int command = std::atoi(cmd.c_str());

    const std::string databasePath = PathBesideProgram(database);
    log << "Setting database path: " << databasePath << std::endl;
    SetDBPath(databasePath.c_str());

    bool argumentsBad = false;
    switch (command) {
      case 1:
        if (guid1.empty()) {
          log << "Error.  Send goal status command with empty guid1." << std::endl;
          argumentsBad = true;
        } else {
          log << "Calling LVML_SendStatusEmails" << std::endl;
          LVML_SendStatusEmails(guid2, &log, guid1);
        }
        break;
      case 2:
      case 3:
        log << "Calling LVML_SendSurveyEmails" << std::endl;
        if (guid1.empty()) {
          log << "Error.  Send survey command with empty guid1." << std::endl;
          argumentsBad = true;
        } else {
          LVML_SendSurveyEmails(guid1, &log, command == 3);
        }
        break;
      case 4:
      case 5: {
        log << "Calling LVSAL_GetOutlookAutomationForEmailOn" << std::endl;
        bool automation = false;
        LVSAL_GetOutlookAutomationForEmailOn(&automation);
        if (automation) {
          log << "PROCESS SURVEY REPLY EMAILS WITH AUTOMATION\n\r\n\r";
          LVML_ProcessSurveyReplyEmails(&log, 1, command == 5);
        } else {
          log << "PROCESS SURVEY REPLY EMAILS\n\r\n\r";
          LVML_ProcessSurveyReplyEmails(&log, 0, command == 5);
        }
        break;
      }
      default:
        log << "Unknown command: " << cmd << std::endl;
        argumentsBad = true;
        break;
    }

    WriteTextFile(logPath, log.str());
    return argumentsBad ? BadArguments() : MailAccessJobStatus();
  } catch (...) {
    WriteTextFile(logPath, log.str());
    throw;
  }
}
