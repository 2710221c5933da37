// The program's entry: reads the command line, points the database library at
// the database file beside the program, runs one job and writes the run log
// "LvMAPI.log" beside the program.
#pragma once

// Returns the exit status: 0 when the job is done; 64 for arguments no job can
// run on (too few, an unknown command number, a send command without its
// identifier), with the usage on standard error; otherwise the most serious
// failure the mail-access program reported during the job (78, 1, 75 or 65).
// "--help" prints the usage and returns 0. An exception that escapes a job is
// thrown on to the caller once the run log is written.
int LvMAPIMain(int argc, char** argv);
