#include "app/lvmapi.h"

#include <cstdlib>
#include <sstream>
#include <string>

#include "app/run_log.h"
#include "bizobjects/settings.h"
#include "mail/reply_intake.h"
#include "strategy/goal_notification.h"
#include "surveys/survey_send.h"
#include "tarnbase/tarnbase.h"
#include "util/text_files.h"

int LvMAPIMain(int argc, char** argv) {
  std::string pgmPath, database, cmd, guid1, guid2;
  std::stringstream log;
  const std::string logPath = RunLogPath();

  try {
    log << "Entering LvMAPI.exe" << std::endl;
    if (argc < 3) {
      log << "Not enough parameters: " << argc << std::endl;
      for (int i = 0; i < argc; ++i) log << "Argument " << i << ": " << argv[i] << std::endl;
      WriteTextFile(logPath, log.str());
      return 0;
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

    switch (command) {
      case 1:
        if (guid1.empty()) {
          log << "Error.  Send goal status command with empty guid1." << std::endl;
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
        break;
    }

    WriteTextFile(logPath, log.str());
    return 0;
  } catch (...) {
    WriteTextFile(logPath, log.str());
    throw;
  }
}
