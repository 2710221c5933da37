#include "tasks/task_store.h"

#include <libical/ical.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/durable_file.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "exchange/status_update.h"
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

// What a task application does when the percentage is changed.
void ApplyStatusUpdate(icalcomponent* todo, int32_t percent, const std::string& comment) {
  icalproperty* description = icalcomponent_get_first_property(todo, ICAL_DESCRIPTION_PROPERTY);
  const std::string body =
      icalproperty_get_description(description) + WithLineFeeds(exchange::GoalStatusUpdateText(percent, comment));
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

// The properties a status update may change, in the order in which those
// the task lacks are added.
constexpr icalproperty_kind kUpdatedKinds[] = {
    ICAL_DESCRIPTION_PROPERTY,  ICAL_PERCENTCOMPLETE_PROPERTY, ICAL_STATUS_PROPERTY, ICAL_COMPLETED_PROPERTY,
    ICAL_LASTMODIFIED_PROPERTY, ICAL_DTSTAMP_PROPERTY,         ICAL_SEQUENCE_PROPERTY,
};

// The task's properties of `kind` as libical writes them: content lines,
// folded, each ended by CR LF.
std::string PropertyLines(icalcomponent* todo, icalproperty_kind kind) {
  std::string lines;
  for (icalproperty* p = icalcomponent_get_first_property(todo, kind); p;
       p = icalcomponent_get_next_property(todo, kind)) {
    char* text = icalproperty_as_ical_string_r(p);
    if (text) lines += text;
    icalmemory_free_buffer(text);
  }
  return lines;
}

using KindLines = std::vector<std::pair<icalproperty_kind, std::string>>;

KindLines UpdatedKindLines(icalcomponent* todo) {
  KindLines lines;
  for (icalproperty_kind kind : kUpdatedKinds) lines.emplace_back(kind, PropertyLines(todo, kind));
  return lines;
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// One content line of the file: its physical lines with their folding and
// line ends, its name and, for BEGIN and END, the component it names.
struct ContentLine {
  std::string raw;
  std::string name;
  std::string value;
  // LF alone ends it (a line without an end, the file's last, counts as CR LF).
  bool EndsWithLineFeedOnly() const {
    return !raw.empty() && raw.back() == '\n' && (raw.size() < 2 || raw[raw.size() - 2] != '\r');
  }
};

std::vector<ContentLine> ContentLines(const std::string& text) {
  std::vector<ContentLine> lines;
  for (size_t pos = 0; pos < text.size();) {
    const size_t lineFeed = text.find('\n', pos);
    const size_t end = lineFeed == std::string::npos ? text.size() : lineFeed + 1;
    std::string physical = text.substr(pos, end - pos);
    pos = end;
    if (!lines.empty() && (physical[0] == ' ' || physical[0] == '\t')) {
      lines.back().raw += physical;
      continue;
    }
    const std::string unended = physical.substr(0, physical.find_first_of("\r\n"));
    const size_t colon = unended.find(':');
    ContentLine line{std::move(physical), UpperCase(unended.substr(0, unended.find_first_of(";:"))), {}};
    if (colon != std::string::npos) line.value = UpperCase(unended.substr(colon + 1));
    lines.push_back(std::move(line));
  }
  return lines;
}

// `lines` as libical wrote them (CR LF) with the line end the file uses.
std::string WithLineEnd(std::string lines, bool lineFeedOnly) {
  if (lineFeedOnly) lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
  return lines;
}

// The task file `text` with the lines of the updated properties of its first
// task put in: a kind whose lines changed (`before` against `after`) takes the
// place of the first line of that kind, its other lines go, and a kind the
// task lacked is added before the task's end. Every other byte stays as the
// task application wrote it, since task applications do not all read back
// what libical writes (todoman fails on CATEGORIES split over two lines).
std::string WithUpdatedProperties(const std::string& text, const KindLines& before, const KindLines& after) {
  std::vector<bool> changed(after.size());
  for (size_t k = 0; k < after.size(); ++k) changed[k] = after[k].second != before[k].second;
  std::vector<bool> pending = changed;

  std::string out;
  std::vector<std::string> open;  // the components the line stands in
  int tasks = 0;
  for (const ContentLine& line : ContentLines(text)) {
    const bool inTask = tasks == 1 && open.size() == 2 && open[1] == "VTODO";
    if (line.name == "BEGIN") {
      if (open.size() == 1 && line.value == "VTODO") ++tasks;
      open.push_back(line.value);
    } else if (line.name == "END") {
      if (inTask) {
        for (size_t k = 0; k < after.size(); ++k) {
          if (pending[k]) out += WithLineEnd(after[k].second, line.EndsWithLineFeedOnly());
        }
        pending.assign(after.size(), false);
      }
      if (!open.empty()) open.pop_back();
    } else if (inTask) {
      const icalproperty_kind kind = icalproperty_string_to_kind(line.name.c_str());
      const auto at = std::find_if(after.begin(), after.end(), [&](const auto& entry) { return entry.first == kind; });
      const size_t k = static_cast<size_t>(at - after.begin());
      if (at != after.end() && changed[k]) {
        if (pending[k]) out += WithLineEnd(after[k].second, line.EndsWithLineFeedOnly());
        pending[k] = false;
        continue;
      }
    }
    out += line.raw;
  }
  return out;
}

// The properties of the first task in `text` as libical reads them back;
// empty when it cannot read them cleanly.
KindLines ReadBack(const std::string& text) {
  Component root = ParseCalendar(text);
  icalcomponent* todo = root ? icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT) : nullptr;
  return todo ? UpdatedKindLines(todo) : KindLines{};
}

// The updated file is written only when libical reads it cleanly and finds
// in it the task's properties as it reads the update's lines by themselves
// (it drops the blanks that end a value). libical reads some broken values
// without complaint and writes them back in a form it cannot read: a DTSTAMP
// of "2027000Z" comes out as a DATE of month 00, and the task would never be
// updated again.
bool WriteUpdatedTask(const std::string& path, const std::string& original, const KindLines& before,
                      const KindLines& after) {
  std::string alone = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\n";
  for (const auto& entry : after) alone += entry.second;
  const KindLines expected = ReadBack(alone + "END:VTODO\r\nEND:VCALENDAR\r\n");
  const std::string updated = WithUpdatedProperties(original, before, after);
  if (expected.empty() || ReadBack(updated) != expected) return false;
  return platform::ReplaceFileKeepingAccess(path, updated);
}

}  // namespace

std::string NamedTaskFolder() {
  const char* folder = std::getenv(kTasksFolderVariable);
  return folder ? folder : "";
}

std::string TaskFolderPath() {
  const std::string named = NamedTaskFolder();
  return named.empty() ? PathBesideProgram(kTasksFolderName) : named;
}

bool UpdateCalendarGoalTask(const std::string& goalId, int32_t percent, const std::string& comment) {
  // An empty identifier would match every task.
  if (goalId.empty() || percent < 0 || percent > 100) return false;

  const std::string folder = TaskFolderPath();
  std::vector<std::string> names;
  if (!ListTaskFiles(folder, names)) return false;

  for (const std::string& name : names) {
    const std::string path = platform::JoinPath(folder, name);
    std::string text;
    // A file that cannot be read, or that libical reads only with errors,
    // might hold the task that should change: the walk stops there, so no
    // later task is changed in its place, and the file is never rewritten
    // (libical would write its error markers into it).
    if (!platform::ReadWholeFile(path, text)) return false;
    Component root = ParseCalendar(text);
    if (!root) return false;
    // Files without a task are passed over. Only the first task that matches
    // changes, so at most one per call.
    icalcomponent* todo = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
    if (!todo || !DescriptionHolds(todo, goalId)) continue;
    const KindLines before = UpdatedKindLines(todo);
    ApplyStatusUpdate(todo, percent, comment);
    return WriteUpdatedTask(path, text, before, UpdatedKindLines(todo));
  }
  return false;
}
