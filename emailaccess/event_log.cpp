#include "emailaccess/event_log.h"

#include "emailaccess/message/gmime_support.h"
#include "platform/files.h"

#include <ostream>

namespace emailaccess {

std::string IsoTimestampNow() {
  // A fetch logs a line for every reply, many within one second: the
  // stamp is made once a second (with the zone's offset at that second).
  static thread_local gint64 madeFor = -1;
  static thread_local std::string made;
  const gint64 second = g_get_real_time() / G_USEC_PER_SEC;
  if (second != madeFor) {
    GDateTimePtr now(g_date_time_new_from_unix_local(second));
    GCharPtr text(now ? g_date_time_format(now.get(), "%Y-%m-%dT%H:%M:%S%:z") : nullptr);
    made = text ? text.get() : "";
    madeFor = second;
  }
  return made;
}

EventLog::EventLog(std::string path, std::ostream& errors) : m_path(std::move(path)), m_errorStream(errors) {}

void EventLog::Info(const std::string& event) { Write(event); }

void EventLog::Warning(const std::string& event) {
  m_errorStream << "LVEmailAccess: warning: " << event << "\n";
  Write("WARNING " + event);
}

void EventLog::Error(const std::string& event) {
  ++m_errors;
  m_errorStream << "LVEmailAccess: " << event << "\n";
  Write("ERROR " + event);
}

void EventLog::Write(const std::string& event) {
  std::string line = IsoTimestampNow() + " " + event;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  line += "\n";
  if (m_path.empty()) return;
  std::string why;
  if (!platform::AppendToFile(m_path, line, &why)) {
    m_errorStream << "LVEmailAccess: cannot write the log (" << why << "): " << line;
  }
}

}  // namespace emailaccess
