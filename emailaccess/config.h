// The program's settings: LVEmailAccess.conf beside the program, or the
// embedded default when there is no such file.
//
// The file is INI text: "[section]" lines, "key = value" lines, and comment
// lines starting with "#" or ";". Unknown sections and keys are errors, so a
// mistyped setting is never silently ignored. Relative folder names are taken
// from the program's folder. Loading throws ConfigError (exit status 78) with
// the file name and line; it never creates or changes anything.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace emailaccess {

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MaildirSettings {
  std::string outbox;     // where sent messages are delivered
  std::string inbox;      // where replies arrive
  std::string processed;  // replies whose exchange file LvMAPI consumed
  std::string skipped;    // automatic mail that matched a subject
};

struct Config {
  std::string source;          // the file read, or "embedded default"
  std::string programDir;      // ends with '/'
  std::string senderName;      // display name of From, may be empty
  std::string senderAddress;   // address of From
  std::string transport;       // "maildir"
  int lockWaitSeconds = 10;    // how long operation 4 waits for another run
  MaildirSettings maildir;     // full paths

  std::string FileBesideProgram(const std::string& name) const { return programDir + name; }
};

inline constexpr const char kConfigFileName[] = "LVEmailAccess.conf";

// The embedded default for a program living in `programDir`.
Config DefaultConfig(const std::string& programDir);

// Settings from INI text; `sourceName` names it in error messages.
Config ParseConfig(std::string_view text, const std::string& programDir, const std::string& sourceName);

// LVEmailAccess.conf in `programDir` when it exists, else the default.
Config LoadConfig(const std::string& programDir);

}  // namespace emailaccess
