// LVEmailAccess.log: what the program did, appended across runs.
//
// One line per event: an ISO 8601 local time stamp with its UTC offset, a
// blank, and the event; line breaks inside an event become blanks so that a
// line is always one event. Errors and warnings are also written to standard
// error. The
// log never fails its caller: when the file cannot be written, the line goes
// to standard error instead. No setting that could be a secret is ever passed
// to it.
#pragma once

#include <iosfwd>
#include <string>

namespace emailaccess {

inline constexpr const char kLogFileName[] = "LVEmailAccess.log";

class EventLog {
 public:
  // `path` empty: nothing is written to a file (for tools and tests).
  EventLog(std::string path, std::ostream& errors);

  void Info(const std::string& event);
  // Something that works but should be put right (a weakened setting).
  void Warning(const std::string& event);
  void Error(const std::string& event);

  // How many errors were logged so far.
  int errors() const { return m_errors; }

 private:
  void Write(const std::string& event);

  std::string m_path;
  std::ostream& m_errorStream;
  int m_errors = 0;
};

// The local time now as "2026-03-01T14:05:09+01:00".
std::string IsoTimestampNow();

}  // namespace emailaccess
