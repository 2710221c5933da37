#include "app/run_log.h"

#include "util/text_files.h"

std::string RunLogPath() { return PathBesideProgram("LvMAPI") + ".log"; }

bool WriteRunLog(const std::string& text) { return WriteTextFile(RunLogPath(), text); }
