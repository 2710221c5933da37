// The database error log and its alert.
//
// WriteDBLog appends one time-stamped entry to a log file beside the program
// (in practice "LV_DB_Log.txt"), then shows the alert naming that file. The log
// grows across runs and is never truncated. Entries of processes writing at the
// same moment are all kept, each whole. Neither function throws.
#pragma once

#include <string>

// Appends the entry, shows the alert (also when writing failed) and returns
// whether the entry was written.
bool WriteDBLog(const char* fileName, const char* failureText);

// Shows the alert that names PathBesideProgram("LV_DB_Log.txt").
void ShowDBErrorAlert();

// The entry text for `failureText` at `stamp` (a formatted time stamp).
std::string DBLogEntry(const std::string& stamp, const std::string& failureText);
