// The goal task store: a folder of iCalendar task files, updated with libical
// and read back both with libical and, as plain text, by Python's standard
// library.
#include "tasks/goal_task.h"
#include "tasks/task_store.h"

#include <gtest/gtest.h>
#include <libical/ical.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "util/dates.h"
#include "platform/environment.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using testing_support::WriteFile;

const std::string kGoal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";

// A task file as a task application writes it; `description` and `extra`
// are content-line text (escaped, `extra` with its own CR LF).
std::string TaskText(const std::string& uid, const std::string& description, const std::string& extra = "") {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\nUID:" + uid +
         "\r\nDTSTAMP:20270101T080000Z\r\nSUMMARY:Task " + uid + "\r\nDESCRIPTION:" + description + "\r\n" + extra +
         "END:VTODO\r\nEND:VCALENDAR\r\n";
}

// The text a status update appends, as it reads once unescaped.
std::string UpdateText(int percent, const std::string& comment) {
  return "\nPercentage complete updated to " + std::to_string(percent) + "\nUpdate processed on " +
         FormatDateOnly(CurrentDate()) + ": " + comment;
}

// A value as Python's json.dumps writes it (ASCII texts only).
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// What the plain-text reader found in a task file.
struct PlainTask {
  std::vector<std::string> form;                              // "ok", or the faults
  std::string components;                                     // BEGIN names in order
  std::vector<std::pair<std::string, std::string>> properties;  // head, JSON value

  // The JSON value of the first property called `name` (any parameters); ""
  // when there is none.
  std::string Value(const std::string& name) const {
    for (const auto& [head, value] : properties) {
      if (head.substr(0, head.find(';')) == name) return value;
    }
    return "";
  }
  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& property : properties) n += property.first.substr(0, property.first.find(';')) == name;
    return n;
  }
  bool Has(const std::string& head) const {
    for (const auto& property : properties) {
      if (property.first == head) return true;
    }
    return false;
  }
};

PlainTask ReadAsPlainText(const std::string& path) {
  const auto run = testing_support::Run("/usr/bin/python3",
                                        {std::string(LVMAPI_SOURCE_DIR) + "/tests/tasks/read_task.py", path});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  PlainTask task;
  std::size_t start = 0;
  for (std::size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = run.out.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    const std::string head = line.substr(0, tab), value = line.substr(tab + 1);
    if (head == "form") {
      task.form.push_back(value);
    } else if (head == "components") {
      task.components = value;
    } else {
      task.properties.emplace_back(head, value);
    }
  }
  return task;
}

struct ComponentDeleter {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

// The file opened with libical; the test fails when libical finds errors.
Component ReadWithLibical(const std::string& path) {
  Component root(icalparser_parse_string(ReadFile(path).c_str()));
  EXPECT_TRUE(root) << path;
  if (root) {
    EXPECT_EQ(icalcomponent_count_errors(root.get()), 0) << path;
  }
  return root;
}

icalcomponent* TodoOf(const Component& root) {
  return root ? icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT) : nullptr;
}

class TaskStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_folder);
    platform::SetEnvironmentValue(kTasksFolderVariable, m_folder);
  }
  void TearDown() override { platform::RemoveEnvironmentValue(kTasksFolderVariable); }

  std::string Path(const std::string& name) const { return m_folder + "/" + name; }
  void Write(const std::string& name, const std::string& text) { WriteFile(Path(name), text); }
  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : testing_support::ListFolder(m_folder)) {
      files[name] = fs::is_regular_file(Path(name)) ? ReadFile(Path(name)) : "<folder>";
    }
    return files;
  }

  ScratchDir m_dir;
  std::string m_folder = m_dir.file("Tasks");
};

TEST_F(TaskStoreTest, UpdatesTheFirstMatchingTaskInFileNameOrderOnly) {
  // Written in the opposite order to their names.
  Write("b-second.ics", TaskText("second", "Also about " + kGoal));
  Write("a-first.ics", TaskText("first", "Meals\\, monthly\\nGoal " + kGoal, "SEQUENCE:3\r\n"));
  const std::string second = ReadFile(Path("b-second.ics"));
  const std::time_t before = std::time(nullptr);

  ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 40, "Half way"));

  EXPECT_EQ(ReadFile(Path("b-second.ics")), second);
  EXPECT_EQ(testing_support::ListFolder(m_folder), (std::vector<std::string>{"a-first.ics", "b-second.ics"}));

  const Component root = ReadWithLibical(Path("a-first.ics"));
  icalcomponent* todo = TodoOf(root);
  ASSERT_NE(todo, nullptr);
  EXPECT_STREQ(icalcomponent_get_uid(todo), "first");
  EXPECT_EQ(std::string(icalcomponent_get_description(todo)),
            "Meals, monthly\nGoal " + kGoal + UpdateText(40, "Half way"));
  EXPECT_EQ(icalproperty_get_percentcomplete(icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY)),
            40);
  EXPECT_EQ(icalcomponent_get_status(todo), ICAL_STATUS_INPROCESS);
  EXPECT_EQ(icalcomponent_get_sequence(todo), 4);
  for (icalproperty_kind kind : {ICAL_LASTMODIFIED_PROPERTY, ICAL_DTSTAMP_PROPERTY}) {
    icalproperty* stamp = icalcomponent_get_first_property(todo, kind);
    ASSERT_NE(stamp, nullptr);
    const icaltimetype time = icalvalue_get_datetime(icalproperty_get_value(stamp));
    EXPECT_TRUE(icaltime_is_utc(time));
    EXPECT_GE(icaltime_as_timet(time), before);
    EXPECT_LE(icaltime_as_timet(time), std::time(nullptr));
  }

  const PlainTask plain = ReadAsPlainText(Path("a-first.ics"));
  EXPECT_EQ(plain.form, (std::vector<std::string>{"ok"}));
  EXPECT_EQ(plain.components, "VCALENDAR VTODO");
  EXPECT_EQ(plain.Value("DESCRIPTION"), Json("Meals, monthly\nGoal " + kGoal + UpdateText(40, "Half way")));
  EXPECT_EQ(plain.Value("PERCENT-COMPLETE"), Json("40"));
  EXPECT_EQ(plain.Value("STATUS"), Json("IN-PROCESS"));
  EXPECT_EQ(plain.Value("SEQUENCE"), Json("4"));
  EXPECT_EQ(plain.Count("DTSTAMP"), 1);
  EXPECT_EQ(plain.Count("LAST-MODIFIED"), 1);
  EXPECT_EQ(plain.Count("COMPLETED"), 0);
  EXPECT_EQ(plain.Value("UID"), Json("first"));
}

TEST_F(TaskStoreTest, StatusFollowsThePercentageAsATaskApplicationSetsIt) {
  const std::string done = "STATUS:COMPLETED\r\nCOMPLETED:20270301T120000Z\r\nPERCENT-COMPLETE:100\r\n";
  struct Case {
    const char* what;
    std::string extra;
    int percent;
    std::string status;
    std::string completed;  // JSON of COMPLETED, "" for none, "now" for a fresh time
    std::string sequence;
  } cases[] = {
      {"not started", "", 0, "NEEDS-ACTION", "", "1"},
      {"started", "PERCENT-COMPLETE:10\r\nSTATUS:NEEDS-ACTION\r\n", 1, "IN-PROCESS", "", "1"},
      {"nearly done", "SEQUENCE:0\r\n", 99, "IN-PROCESS", "", "1"},
      {"finished", "STATUS:IN-PROCESS\r\nSEQUENCE:7\r\n", 100, "COMPLETED", "now", "8"},
      {"finished before keeps its time", done, 100, "COMPLETED", Json("20270301T120000Z"), "1"},
      {"reopened loses its completion time", done, 60, "IN-PROCESS", "", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("task.ics", TaskText("t", "Goal " + kGoal, c.extra));
    ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, c.percent, "x"));
    const PlainTask plain = ReadAsPlainText(Path("task.ics"));
    EXPECT_EQ(plain.form, (std::vector<std::string>{"ok"}));
    EXPECT_EQ(plain.Value("STATUS"), Json(c.status));
    EXPECT_EQ(plain.Count("STATUS"), 1);
    EXPECT_EQ(plain.Value("PERCENT-COMPLETE"), Json(std::to_string(c.percent)));
    EXPECT_EQ(plain.Count("PERCENT-COMPLETE"), 1);
    EXPECT_EQ(plain.Value("SEQUENCE"), Json(c.sequence));
    if (c.completed == "now") {
      EXPECT_EQ(plain.Count("COMPLETED"), 1);
      EXPECT_NE(plain.Value("COMPLETED"), Json("20270301T120000Z"));
    } else {
      EXPECT_EQ(plain.Value("COMPLETED"), c.completed);
    }
    const Component root = ReadWithLibical(Path("task.ics"));
    ASSERT_NE(TodoOf(root), nullptr);
  }
}

TEST_F(TaskStoreTest, TheCommentIsAppendedAsTyped) {
  struct Case {
    std::string comment;
    std::string shown;
  } cases[] = {
      {"don't stop", "don't stop"},
      {"it's ''quoted''", "it's ''quoted''"},
      {"first line\r\nsecond line", "first line\nsecond line"},
      {"old mac\rbreak", "old mac\nbreak"},
      {"semi; comma, back\\slash", "semi; comma, back\\slash"},
      {"On track ", "On track "},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    Write("task.ics", TaskText("t", "Goal " + kGoal));
    ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 25, c.comment));
    const Component root = ReadWithLibical(Path("task.ics"));
    ASSERT_NE(TodoOf(root), nullptr);
    // libical's reader drops the blanks that end a line; the file keeps them.
    std::string expected = "Goal " + kGoal + UpdateText(25, c.shown);
    expected.erase(expected.find_last_not_of(' ') + 1);
    EXPECT_EQ(std::string(icalcomponent_get_description(TodoOf(root))), expected);
    EXPECT_EQ(ReadAsPlainText(Path("task.ics")).Value("DESCRIPTION"), Json("Goal " + kGoal + UpdateText(25, c.shown)));
  }
}

TEST_F(TaskStoreTest, KeepsWhatTheTaskApplicationWrote) {
  const std::string extra =
      "X-APPLE-SORT-ORDER:12\r\n"
      "X-TODOMAN-FLAG;X-REASON=\"a:b\":on\r\n"
      "CATEGORIES:Outreach\r\n"
      "DUE;VALUE=DATE:20270331\r\n"
      "PRIORITY:5\r\n"
      "RELATED-TO;RELTYPE=PARENT:parent-uid\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nDESCRIPTION:Reminder\r\nEND:VALARM\r\n";
  Write("task.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\n"
                    "UID:kept\r\nDTSTAMP:20270101T080000Z\r\nSUMMARY;X-LAYOUT=wide:Community meal\r\n"
                    "DESCRIPTION;LANGUAGE=en:Goal " + kGoal + "\r\n" + extra + "END:VTODO\r\nEND:VCALENDAR\r\n");
  ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 50, "ok"));

  const PlainTask plain = ReadAsPlainText(Path("task.ics"));
  EXPECT_EQ(plain.form, (std::vector<std::string>{"ok"}));
  EXPECT_EQ(plain.components, "VCALENDAR VTODO VALARM");
  EXPECT_TRUE(plain.Has("X-APPLE-SORT-ORDER"));
  EXPECT_EQ(plain.Value("X-APPLE-SORT-ORDER"), Json("12"));
  EXPECT_TRUE(plain.Has("X-TODOMAN-FLAG;X-REASON=\"a:b\""));
  EXPECT_TRUE(plain.Has("SUMMARY;X-LAYOUT=wide"));
  EXPECT_TRUE(plain.Has("DESCRIPTION;LANGUAGE=en"));
  EXPECT_TRUE(plain.Has("DUE;VALUE=DATE"));
  EXPECT_TRUE(plain.Has("RELATED-TO;RELTYPE=PARENT"));
  EXPECT_EQ(plain.Value("CATEGORIES"), Json("Outreach"));
  EXPECT_EQ(plain.Value("PRIORITY"), Json("5"));
  EXPECT_EQ(plain.Value("DESCRIPTION"), Json("Goal " + kGoal + UpdateText(50, "ok")));
  const Component root = ReadWithLibical(Path("task.ics"));
  ASSERT_NE(TodoOf(root), nullptr);
  EXPECT_NE(icalcomponent_get_first_component(TodoOf(root), ICAL_VALARM_COMPONENT), nullptr);
}

// The file less the content lines (with their folded continuations) of the
// properties a status update may change.
std::string WithoutUpdatedLines(const std::string& text) {
  static const std::vector<std::string> updated = {"DESCRIPTION", "PERCENT-COMPLETE", "STATUS",  "COMPLETED",
                                                   "LAST-MODIFIED", "DTSTAMP",        "SEQUENCE"};
  std::string out;
  bool dropping = false;
  for (std::size_t pos = 0, end; pos < text.size(); pos = end) {
    end = std::min(text.find('\n', pos), text.size() - 1) + 1;
    const std::string line = text.substr(pos, end - pos);
    if (line[0] != ' ' && line[0] != '\t') {
      const std::string name = line.substr(0, line.find_first_of(";:"));
      dropping = std::find(updated.begin(), updated.end(), name) != updated.end();
    }
    if (!dropping) out += line;
  }
  return out;
}

TEST_F(TaskStoreTest, OnlyTheUpdatedPropertiesChangeEveryOtherByteStays) {
  const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\n";
  const struct {
    const char* what;
    std::string text;
    mode_t mode;
  } cases[] = {
      {"multi-valued, folded and unknown properties",
       head + "UID:kept\r\nCATEGORIES:Outreach,Hospitality\r\nSUMMARY:Launch a monthly community meal for the n\r\n"
              " eighbourhood\r\nX-TODOMAN-FLAG;X-REASON=\"a:b\":on\r\nDTSTAMP:20270101T080000Z\r\n"
              "DESCRIPTION:Goal " + kGoal + "\r\nPERCENT-COMPLETE:10\r\nSTATUS:IN-PROCESS\r\n"
              "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nDESCRIPTION:Reminder\r\nEND:VALARM\r\n"
              "DUE;VALUE=DATE:20270331\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
       0600},
      {"line feeds only, properties to add",
       "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nBEGIN:VTODO\nUID:lf\nDTSTAMP:20270101T080000Z\nDESCRIPTION:Goal " + kGoal +
           "\nEND:VTODO\nEND:VCALENDAR\n",
       0640},
      {"a second task and a time zone around it",
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\n"
       "DTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
       "BEGIN:VTODO\r\nUID:one\r\nDTSTAMP:20270101T080000Z\r\nDUE;TZID=Europe/Berlin:20270301T120000\r\n"
       "DESCRIPTION:Goal " + kGoal + "\r\nEND:VTODO\r\nBEGIN:VTODO\r\nUID:two\r\nDTSTAMP:20270101T080000Z\r\n"
       "STATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
       0644},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write("task.ics", c.text);
    ASSERT_EQ(chmod(Path("task.ics").c_str(), c.mode), 0);
    ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 100, "done"));
    const std::string after = ReadFile(Path("task.ics"));
    EXPECT_EQ(WithoutUpdatedLines(after), WithoutUpdatedLines(c.text));
    EXPECT_EQ(after.find("\r\n") != std::string::npos, c.text.find("\r\n") != std::string::npos);
    EXPECT_EQ(icalcomponent_get_status(TodoOf(ReadWithLibical(Path("task.ics")))), ICAL_STATUS_COMPLETED);
    struct stat info {};
    ASSERT_EQ(stat(Path("task.ics").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
  }
}

TEST_F(TaskStoreTest, ALongUpdateIsFoldedIntoLinesOfAtMost75Octets) {
  Write("task.ics", TaskText("t", "Goal " + kGoal));
  const std::string comment(300, 'w');
  ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 30, comment));
  const PlainTask plain = ReadAsPlainText(Path("task.ics"));
  EXPECT_EQ(plain.form, (std::vector<std::string>{"ok"}));
  EXPECT_EQ(plain.Value("DESCRIPTION"), Json("Goal " + kGoal + UpdateText(30, comment)));
}

TEST_F(TaskStoreTest, ChangesNothingWhenNoTaskMatches) {
  std::string lowerGoal = kGoal;
  for (char& c : lowerGoal) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Write("a-lower.ics", TaskText("lower", "Goal " + lowerGoal));
  Write("b-summary.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:s\r\nSUMMARY:" + kGoal +
                             "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
  Write("c-event.ics", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e\r\nDTSTART:20270101T100000Z\r\n"
                       "DESCRIPTION:" + kGoal + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  Write("d-notes.txt", TaskText("notes", "Goal " + kGoal));
  Write("e-task.ics.part", TaskText("partial", "Goal " + kGoal));
  Write("f-other.ics", TaskText("other", "Goal {F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}"));
  const auto before = Snapshot();

  EXPECT_FALSE(UpdateOutlookGoalTask(kGoal, 50, "c"));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(TaskStoreTest, RefusesWhatCannotBeATaskUpdate) {
  Write("task.ics", TaskText("t", "Goal " + kGoal + " and more"));
  const auto before = Snapshot();
  struct Case {
    const char* what;
    std::string goalId;
    int percent;
  } cases[] = {
      {"an empty goal identifier would match every task", "", 50},
      {"a negative percentage", kGoal, -1},
      {"a percentage above 100", kGoal, 101},
      {"a percentage far above 100", kGoal, 150},
      {"the lowest integer", kGoal, INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(UpdateOutlookGoalTask(c.goalId, c.percent, "c"));
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(TaskStoreTest, AnEmptyOrMissingFolderIsNoError) {
  EXPECT_FALSE(UpdateOutlookGoalTask(kGoal, 50, "c"));
  EXPECT_TRUE(testing_support::ListFolder(m_folder).empty());
  platform::SetEnvironmentValue(kTasksFolderVariable, m_dir.file("missing"));
  EXPECT_FALSE(UpdateOutlookGoalTask(kGoal, 50, "c"));
  EXPECT_FALSE(testing_support::Exists(m_dir.file("missing")));
}

TEST_F(TaskStoreTest, AFileLibicalCannotReadCleanlyStopsTheWalkUntouched) {
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"not a calendar", "Goal " + kGoal + "\r\n"},
      {"empty", ""},
      {"cut short", "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:x\r\nDESCRIPTION:" + kGoal + "\r\n"},
      {"an unknown property name", TaskText("x", "Goal " + kGoal, "FOO-BAR:baz\r\n")},
      {"a value libical cannot read", TaskText("x", "Goal " + kGoal, "DUE:tomorrow\r\n")},
      {"an alarm with errors", TaskText("x", "Goal " + kGoal, "BEGIN:VALARM\r\nTRIGGER:soon\r\nEND:VALARM\r\n")},
      {"two calendars", TaskText("x", "Goal " + kGoal) + TaskText("y", "Goal " + kGoal)},
      {"a NUL byte", TaskText("x", "Goal " + kGoal) + std::string(1, '\0') + "tail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(m_folder);
    fs::create_directory(m_folder);
    Write("a-broken.ics", c.text);
    // A clean task that matches stands after the broken one: it is not taken
    // in its place, for the broken file might be the goal's task.
    Write("b-good.ics", TaskText("good", "Goal " + kGoal));
    const auto before = Snapshot();
    EXPECT_FALSE(UpdateOutlookGoalTask(kGoal, 50, "c"));
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(TaskStoreTest, AFailedWriteLeavesTheTaskAsItWas) {
  Write("task.ics", TaskText("t", "Goal " + kGoal));
  // The new content is prepared beside the task; a folder of that name makes
  // the write fail.
  fs::create_directory(Path("task.ics.part"));
  const auto before = Snapshot();
  EXPECT_FALSE(UpdateOutlookGoalTask(kGoal, 50, "c"));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(TaskStoreTest, ALeftoverFromAnInterruptedUpdateIsReplaced) {
  Write("task.ics", TaskText("t", "Goal " + kGoal));
  Write("task.ics.part", "half a task");
  ASSERT_TRUE(UpdateOutlookGoalTask(kGoal, 50, "c"));
  EXPECT_EQ(testing_support::ListFolder(m_folder), (std::vector<std::string>{"task.ics"}));
  EXPECT_EQ(ReadAsPlainText(Path("task.ics")).Value("PERCENT-COMPLETE"), Json("50"));
}

TEST(TaskFolderPath, IsTheVariableWhenSetElseTasksBesideTheProgram) {
  platform::RemoveEnvironmentValue(kTasksFolderVariable);
  const std::string beside = TaskFolderPath();
  EXPECT_EQ(fs::path(beside).filename(), "Tasks");
  EXPECT_EQ(fs::path(beside).parent_path(), fs::path(LVMAPI_BIN_DIR).parent_path() / "tests");
  platform::SetEnvironmentValue(kTasksFolderVariable, "");
  EXPECT_EQ(TaskFolderPath(), beside);
  platform::SetEnvironmentValue(kTasksFolderVariable, "/srv/tasks");
  EXPECT_EQ(TaskFolderPath(), "/srv/tasks");
  platform::RemoveEnvironmentValue(kTasksFolderVariable);
}

}  // namespace
