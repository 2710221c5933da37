// The program's command line, as LvMAPI and people call it:
//
//   LVEmailAccess <operation> <exchange file> <subject> <flag>
//   LVEmailAccess --acknowledge | --send-queued | --check | --help | --version
//   LVEmailAccess --authorize
//
// RunCommandLine does the whole run for the arguments (without the program
// name) and returns the exit status (exchange/operations.h): 0 done (for a
// mailing: every message sent, or waiting for the sender in the
// background), 64 bad arguments, 65 some recipients had no usable address
// (everyone else was sent to) or an exchange file whose recipients do not
// pair up (nothing of it was sent), 78 bad configuration or a refused login
// (a password, or a sign-in to renew with --authorize), 75 a temporary
// failure (mailbox locked, server out of reach, messages queued for a later
// run with no sender on its way), 1 anything else. Every failure is
// explained on `err` and in the log beside the program; nothing escapes as
// an exception.
//
// Operations 1, 2 and 4 may leave this program running in the background
// as `--send-queued` (the running program's own file, detached), which
// sends the queue at the pace until it is empty.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace emailaccess {

// `programDir` is the folder of the program, ending with '/'; the
// configuration, the log, the state and the lock file live there.
int RunCommandLine(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                   std::ostream& err);

}  // namespace emailaccess
