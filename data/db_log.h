// The database error log and its alert.
#pragma once

#include <string>

// Appends one time-stamped entry to `fileName` beside the program (in practice
// "LV_DB_Log.txt"), shows the alert naming that file (also when writing
// failed) and returns whether the entry was written. The log grows across runs
// and is never truncated; entries of processes writing at the same moment are
// all kept, each whole. Never throws.
bool WriteDBLog(const char* fileName, const char* failureText);

// Shows the alert that names PathBesideProgram("LV_DB_Log.txt"). Never throws.
void ShowDBErrorAlert();

// The entry text for `failureText` at `stamp` (a formatted time stamp).
std::string DBLogEntry(const std::string& stamp, const std::string& failureText);
