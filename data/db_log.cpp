#include "data/db_log.h"

#include "data/db_connection.h"
#include "platform/alert.h"
#include "platform/files.h"
#include "util/dates.h"
#include "util/text_files.h"

namespace {
const char kRule[] = "================================================================";
}

std::string DBLogEntry(const std::string& stamp, const std::string& failureText) {
  return std::string("\r\n\r\n") + kRule + "\r\n" + stamp + failureText + "\r\n" + kRule + "\r\n";
}

bool WriteDBLog(const char* fileName, const char* failureText) {
  std::string stamp = FormatDatePattern(CurrentDate(), "\r\n\r\n%m-%d-%Y   %H:%M  - ");
  std::string entry = DBLogEntry(stamp, failureText ? failureText : "");
  bool written = platform::AppendToFile(PathBesideProgram(fileName ? fileName : kDBLogFileName), entry);
  ShowDBErrorAlert();
  return written;
}

void ShowDBErrorAlert() {
  std::string path = PathBesideProgram(kDBLogFileName);
  std::string message =
      "An error occurred while accessing the Corvane database.  A log has been saved called '" + path +
      "'.  On Vista this directory may be located within the \\Users\\<your name>\\AppData\\Local\\VirtualStore "
      "directory.  " +
      "Emailing this file to Corvane Support will help us to track down this issue.  We apologize for this "
      "inconvenience.";
  platform::ShowErrorAlert("Corvane Has Encountered an Error", message);
}
