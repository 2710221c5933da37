// LVEmailAccess: sends LvMAPI's messages and fetches the replies to them.
#include "emailaccess/command_line.h"
#include "emailaccess/curl_session.h"
#include "util/text_files.h"

#include <iostream>

int main(int argc, char** argv) {
  emailaccess::EnsureCurl();
  std::vector<std::string> args(argv + 1, argv + argc);
  return emailaccess::RunCommandLine(args, PathBesideProgram(""), std::cout, std::cerr);
}
