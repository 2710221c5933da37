#include "mail/task_store.h"

#include <libical/ical.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "util/dates.h"
#include "util/text_files.h"

namespace {

struct ComponentDeleter {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

// libical's treatment of unknown tokens is one setting for the whole process;
// it is switched to "keep them" for one parse and then put back.
class UnknownTokensKept {
 public:
  UnknownTokensKept() : m_previous(ical_get_unknown_token_handling_setting()) {
    ical_set_unknown_token_handling_setting(ICAL_ASSUME_IANA_TOKEN);
  }
  ~UnknownTokensKept() { ical_set_unknown_token_handling_setting(m_previous); }
  UnknownTokensKept(const UnknownTokensKept&) = delete;
  UnknownTokensKept& operator=(const UnknownTokensKept&) = delete;

 private:
  ical_unknown_token_handling m_previous;
};

// The calendar in `text`, or none when libical cannot read it cleanly. A
// calendar read with errors carries X-LIC-ERROR properties that would be
// written back into the file; several calendars in one file would come back
// wrapped in a root that no other program reads.
Component ParseCalendar(const std::string& text) {
  // libical reads a C string: a NUL byte would silently cut the file short.
  if (text.empty() || text.find('\0') != std::string::npos) return nullptr;
  UnknownTokensKept keep;
  Component root(icalparser_parse_string(text.c_str()));
  if (!root || icalcomponent_isa(root.get()) != ICAL_VCALENDAR_COMPONENT) return nullptr;
  if (icalcomponent_count_errors(root.get()) > 0) return nullptr;
  return root;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The ".ics" files of the folder in file-name order; false when the folder
// cannot be read.
bool ListTaskFiles(const std::string& folder, std::vector<std::string>& names) {
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(folder, entries)) return false;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.regularFile && EndsWith(entry.name, ".ics")) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return true;
}

bool DescriptionHolds(icalcomponent* todo, const std::string& goalId) {
  icalproperty* description = icalcomponent_get_first_property(todo, ICAL_DESCRIPTION_PROPERTY);
  const char* text = description ? icalproperty_get_description(description) : nullptr;
  return text && std::string_view(text).find(goalId) != std::string_view::npos;
}

void RemoveProperties(icalcomponent* todo, icalproperty_kind kind) {
  while (icalproperty* property = icalcomponent_get_first_property(todo, kind)) {
    icalcomponent_remove_property(todo, property);
    icalproperty_free(property);
  }
}

// Takes ownership of `property`.
void ReplaceProperty(icalcomponent* todo, icalproperty* property) {
  RemoveProperties(todo, icalproperty_isa(property));
  icalcomponent_add_property(todo, property);
}

// iCalendar text knows one line break, the line feed (written as "\n"); a
// carriage return would be dropped and run two lines together.
std::string WithLineFeeds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out.push_back(text[i]);
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out.push_back('\n');
    }
  }
  return out;
}

// The status update a goal reply adds to its task's body: the percentage and
// the day it was processed, then the comment.
std::string StatusUpdateText(int32_t percent, const std::string& comment) {
  return WithLineFeeds("\r\nPercentage complete updated to " + std::to_string(percent) + "\r\nUpdate processed on " +
                       FormatDateOnly(CurrentDate()) + ": " + comment);
}

// What a task application does when the percentage is changed.
void ApplyStatusUpdate(icalcomponent* todo, int32_t percent, const std::string& comment) {
  icalproperty* description = icalcomponent_get_first_property(todo, ICAL_DESCRIPTION_PROPERTY);
  const std::string body = icalproperty_get_description(description) + StatusUpdateText(percent, comment);
  icalproperty_set_description(description, body.c_str());  // its parameters stay

  const icaltimetype now = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
  ReplaceProperty(todo, icalproperty_new_percentcomplete(percent));
  if (percent == 100) {
    ReplaceProperty(todo, icalproperty_new_status(ICAL_STATUS_COMPLETED));
    // A task finished before keeps the time it was finished.
    if (!icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY)) {
      icalcomponent_add_property(todo, icalproperty_new_completed(now));
    }
  } else {
    ReplaceProperty(todo, icalproperty_new_status(percent > 0 ? ICAL_STATUS_INPROCESS : ICAL_STATUS_NEEDSACTION));
    RemoveProperties(todo, ICAL_COMPLETED_PROPERTY);
  }
  ReplaceProperty(todo, icalproperty_new_lastmodified(now));
  ReplaceProperty(todo, icalproperty_new_dtstamp(now));
  ReplaceProperty(todo, icalproperty_new_sequence(icalcomponent_get_sequence(todo) + 1));
}

// libical reads some broken values without complaint and then writes them
// in a form it cannot read back (a DTSTAMP of "2027000Z" comes out as a
// DATE of month 00): such a file would never be updated again, so it is
// not written and the task stays as it was.
bool WriteCalendar(const std::string& path, icalcomponent* root) {
  char* text = icalcomponent_as_ical_string_r(root);
  if (!text) return false;
  const std::string data(text);
  icalmemory_free_buffer(text);
  if (!ParseCalendar(data)) return false;
  return platform::ReplaceFileAtomically(path, data);
}

}  // namespace

std::string TaskFolderPath() {
  const char* folder = std::getenv(kTasksFolderVariable);
  if (folder && *folder) return folder;
  return PathBesideProgram(kTasksFolderName);
}

bool UpdateOutlookGoalTask(std::string goalId, int32_t percent, std::string comment) {
  if (goalId.empty() || percent < 0 || percent > 100) return false;

  const std::string folder = TaskFolderPath();
  std::vector<std::string> names;
  if (!ListTaskFiles(folder, names)) return false;

  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    std::string text;
    if (!platform::ReadWholeFile(path, text)) return false;
    Component root = ParseCalendar(text);
    if (!root) return false;
    icalcomponent* todo = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
    if (!todo || !DescriptionHolds(todo, goalId)) continue;
    ApplyStatusUpdate(todo, percent, comment);
    return WriteCalendar(path, root.get());
  }
  return false;
}
