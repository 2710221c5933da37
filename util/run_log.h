// The run log: the lines each job writes about what it did, kept in memory
// while the job runs and written once at its end to "LvMAPI.log" beside the
// program, replacing the previous run's file.
#pragma once

#include <ostream>
#include <string>

// Jobs take a RunLog* they do not own (null: nothing is logged) and end their
// lines with std::endl; the file gets CR LF when it is written.
using RunLog = std::ostream;

// Where the run log is written: "LvMAPI.log" beside the program.
std::string RunLogPath();
