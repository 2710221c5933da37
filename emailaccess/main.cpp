// LVEmailAccess: sends LvMAPI's messages and fetches the replies to them.
#include "emailaccess/command_line.h"
#include "emailaccess/signin/curl_session.h"
#include "platform/console.h"
#include "platform/files.h"
#include "util/text_files.h"

#include <iostream>

int main(int argc, char** argv) {
  platform::PrepareStandardStreams();
  // Everything this program creates holds people's mail or names them: the
  // Maildir folders and messages, the queue, the exchange files, its state,
  // lock and log. None of it is for other accounts on the computer.
  platform::KeepNewFilesPrivate();
  emailaccess::EnsureCurl();
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::string programDir = PathBesideProgram("");
  // The local mail folders lie beside the program too: under a protected
  // program folder they are taken into the VirtualStore with its files.
  PathBesideProgram("Mail");
  return emailaccess::RunCommandLine(args, programDir, std::cout, std::cerr);
}
