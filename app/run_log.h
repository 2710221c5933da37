// The run log: one in-memory text stream per run, appended to by every job
// through a pointer, written once at the end of the run to "LvMAPI.log" beside
// the program, replacing the previous run's file. Lines end with std::endl
// (one line feed); the file gets CR LF through the line-break normaliser.
#pragma once

#include <ostream>
#include <string>

using RunLog = std::ostream;

std::string RunLogPath();
bool WriteRunLog(const std::string& text);
