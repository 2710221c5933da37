#include "util/run_log.h"

#include "util/text_files.h"

std::string RunLogPath() { return PathBesideProgram("LvMAPI") + ".log"; }
