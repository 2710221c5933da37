// The program's entry: reads the command line, points the database library at
// the database file beside the program, runs one job and writes the run log
// "LvMAPI.log" beside the program.
//
// LvMAPIMain returns the exit status: 0 when the job is done; 64 for arguments
// no job can run on (too few, an unknown command number, a send command
// without its identifier), with the usage on standard error; otherwise the
// most serious failure of the mail-access program during the job (78, 1, 75
// or 65, as it reported it). "--help" prints the usage and returns 0. When an
// exception escapes a job, the run log is written and the same exception is
// thrown on to the caller.
#pragma once

int LvMAPIMain(int argc, char** argv);
