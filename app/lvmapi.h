// The program's entry: reads the command line, points the database library at
// the database file beside the program, runs one job and writes the run log
// "LvMAPI.log" beside the program.
#pragma once

// Returns the exit status: 0 when the job is done; 64 for arguments no job can
// run on (too few, an unknown command number, a send command without its
// identifier), with the usage on standard error; 73, said on standard error
// with the folder, when nothing can be written in the program's folder (no
// job is run); otherwise the most serious failure the mail-access program
// reported during the job (78, 1, 75 or 65), 75 also for a file of the
// exchange that could not be written or read and for a run log that could
// not be written (said on standard error).
// "--help" prints the usage and returns 0. An exception that escapes a job is
// thrown on to the caller once the run log is written.
int LvMAPIMain(int argc, char** argv);
