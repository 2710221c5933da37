// The program's entry: reads the command line, points the database library at
// the database file beside the program, runs one job and writes the run log
// "LvMAPI.log" beside the program.
//
// LvMAPIMain returns 0 on every path that ends normally (too few arguments and
// unknown command numbers included). When an exception escapes a job, the run
// log is written and the same exception is thrown on to the caller.
#pragma once

int LvMAPIMain(int argc, char** argv);
