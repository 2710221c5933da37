// The goal's task in Outlook, against the Outlook double registered for the
// user in Outlook's place: the calls Outlook sees, in order with their
// dispatch identifiers and argument types, what ends up saved, and that
// every object Outlook handed out is given back.
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "outlook_double/outlook_double.h"
#include "outlook_double/registration.h"
#include "platform/directory.h"
#include "platform/environment.h"
#include "tasks/goal_task.h"
#include "tasks/task_store.h"
#include "test_support.h"
#include "util/dates.h"
#include "util/text_files.h"

namespace {

using nlohmann::json;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using testing_support::WriteFile;

const std::string kGoal = "{F1000001-AAAA-4BBB-8CCC-DDDDEEEE0001}";

// A recorded call on one line: object, kind, member and the arguments'
// types and values.
std::string Line(const json& call) {
  std::string line = call["object"].get<std::string>() + ' ' + call["kind"].get<std::string>();
  if (call.contains("member")) {
    const json& member = call["member"];
    line += ' ';
    line += member.is_string() ? member.get<std::string>() : member.dump();
  }
  for (const json& argument : call.value("args", json::array())) {
    const json& value = argument["value"];
    line += ' ';
    line += argument["type"].get<std::string>() + ':';
    line += value.is_string() ? value.get<std::string>() : value.dump();
  }
  return line;
}

const std::vector<std::string> kOpening = {
    "application create",
    "application method 272 VT_BSTR:MAPI",
    "namespace method 8453 VT_ERROR:0x80020004 VT_ERROR:0x80020004 VT_ERROR:0x80020004 VT_ERROR:0x80020004",
    "namespace method 8459 VT_I4:13",
    "folder get 12544",
    "items get 80",
};
const std::vector<std::string> kClosing = {"items released", "folder released", "namespace released",
                                           "application released"};

// Outlook's calls for a folder of `tasks` tasks whose task `match` (from 1;
// 0 for none) is the first to hold the goal, updated to `body` and `percent`.
std::vector<std::string> TableCalls(size_t tasks, size_t match, const std::string& body = "", int percent = 0) {
  std::vector<std::string> calls = kOpening;
  for (size_t i = 1; i <= tasks; ++i) {
    const std::string task = "task " + std::to_string(i);
    calls.push_back(i == 1 ? "items method 86" : "items method 87");
    calls.push_back(task + " get 37120");
    if (i == match) {
      calls.push_back(task + " put 37120 VT_BSTR:" + body);
      calls.push_back(task + " put 63007 VT_I4:" + std::to_string(percent));
      calls.push_back(task + " method 61512");
    }
    calls.push_back(task + " released");
    if (i == match) break;
  }
  calls.insert(calls.end(), kClosing.begin(), kClosing.end());
  return calls;
}

// The text an update appends to the task's body.
std::string Appended(int percent, const std::string& comment) {
  return "\r\nPercentage complete updated to " + std::to_string(percent) + "\r\nUpdate processed on " +
         FormatDateOnly(CurrentDate()) + ": " + comment;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

class OutlookTaskTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(platform::IsDirectory(PathBesideProgram(kTasksFolderName)))
        << "a Tasks folder beside the test chooses the iCalendar store";
    std::string skip;
    if (!m_registration.Register(skip)) {
      if (!skip.empty()) GTEST_SKIP() << skip;
      FAIL() << "the double cannot be registered";
    }
    platform::RemoveEnvironmentValue(kTasksFolderVariable);
    platform::SetEnvironmentValue(kOutlookDoubleStateVariable, m_state);
  }
  void TearDown() override {
    m_registration.Unregister();
    platform::RemoveEnvironmentValue(kOutlookDoubleStateVariable);
  }

  // Gives the double a Tasks folder of `bodies` (and a call to fail), runs the
  // update and returns the double's state.
  json Update(const std::vector<std::string>& bodies, const std::string& goalId, int percent,
              const std::string& comment, bool& updated, const json& fail = nullptr) {
    json state = {{"tasks", json::array()}};
    for (const std::string& body : bodies) state["tasks"].push_back({{"body", body}, {"percent", 0}});
    if (!fail.is_null()) state["fail"] = fail;
    WriteFile(m_state, state.dump());
    updated = UpdateOutlookGoalTask(goalId, percent, comment);
    return json::parse(ReadFile(m_state));
  }

  static std::vector<std::string> Calls(const json& state) {
    std::vector<std::string> lines;
    for (const json& call : state.value("calls", json::array())) lines.push_back(Line(call));
    return lines;
  }

  // Every object the double made got all its references back.
  static void ExpectAllReleased(const json& state) {
    for (const json& object : state.value("objects", json::array())) {
      EXPECT_EQ(object["addRefs"], object["releases"]) << object["name"] << " is still referenced";
    }
  }

  ScratchDir m_dir;
  std::string m_state = m_dir.file("outlook.json");
  outlook_double::Registration m_registration;
};

TEST_F(OutlookTaskTest, TheCallsAndTheSavedTasksAreOutlooksAsTheUpdateDrivesIt) {
  struct Case {
    const char* name;
    std::vector<std::string> bodies;
    std::string goalId;
    std::string comment;
    size_t match;  // the task saved, from 1; 0 for none
  } cases[] = {
      {"match in the third task", {"Plan the picnic", "Goal {F1000001-AAAA-4BBB-8CCC-DDDDEEEE0002}", "Meal\r\nGoal " + kGoal},
       kGoal, "On track", 3},
      {"no match", {"Plan the picnic", "Paint the hall"}, kGoal, "c", 0},
      {"empty folder", {}, kGoal, "c", 0},
      {"two matching tasks: the first", {"First " + kGoal, "Second " + kGoal}, kGoal, "c", 1},
      {"the goal in lower case in the task", {"Goal " + Lower(kGoal)}, kGoal, "c", 0},
      {"a comment with apostrophes, as given", {"Goal " + kGoal}, kGoal, "it's ''quoted''", 1},
      {"text beyond ASCII both ways", {"Grüße an alle – Ziel " + kGoal}, kGoal, "Grüße zurück, schön", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool updated = false;
    const json state = Update(c.bodies, c.goalId, 40, c.comment, updated);
    EXPECT_EQ(updated, c.match != 0);
    const std::string body = c.match ? c.bodies[c.match - 1] + Appended(40, c.comment) : "";
    EXPECT_EQ(Calls(state), TableCalls(c.bodies.size(), c.match, body, 40));
    ExpectAllReleased(state);
    ASSERT_EQ(state["tasks"].size(), c.bodies.size());
    for (size_t i = 0; i < c.bodies.size(); ++i) {
      const json& task = state["tasks"][i];
      const bool saved = i + 1 == c.match;
      EXPECT_EQ(task["body"], saved ? body : c.bodies[i]) << "task " << i + 1;
      EXPECT_EQ(task["percent"], saved ? 40 : 0) << "task " << i + 1;
      EXPECT_EQ(task.value("saves", 0), saved ? 1 : 0) << "task " << i + 1;
    }
  }
}

TEST_F(OutlookTaskTest, AFailingCallEndsTheUpdateQuietlyWithEveryObjectGivenBack) {
  const std::string task = "Goal " + kGoal;
  std::vector<std::string> percentRefused = TableCalls(1, 1, task + Appended(40, "c"), 40);
  percentRefused.erase(std::find(percentRefused.begin(), percentRefused.end(), "task 1 method 61512"));
  struct Case {
    const char* name;
    json fail;
    std::vector<std::string> calls;
  } cases[] = {
      {"Outlook cannot start", {{"object", "application"}, {"kind", "create"}}, {"application create"}},
      {"the Tasks folder is refused",
       {{"object", "namespace"}, {"member", 8459}},
       {kOpening[0], kOpening[1], kOpening[2], kOpening[3], "namespace released", "application released"}},
      {"the percentage is refused after the body was put", {{"object", "task 1"}, {"member", 63007}},
       percentRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool updated = true;
    const json state = Update({task}, kGoal, 40, "c", updated, c.fail);
    EXPECT_FALSE(updated);
    EXPECT_EQ(Calls(state), c.calls);
    ExpectAllReleased(state);
    EXPECT_EQ(state["tasks"][0]["body"], task) << "an unsaved body was kept";
    EXPECT_EQ(state["tasks"][0].value("saves", 0), 0);
  }
}

TEST_F(OutlookTaskTest, NothingReachesOutlookForAnEmptyGoalOrAPercentageNoTaskCanHave) {
  for (const auto& [goalId, percent] : {std::pair<std::string, int>{"", 40}, {kGoal, 101}, {kGoal, -1}}) {
    SCOPED_TRACE(goalId + " " + std::to_string(percent));
    bool updated = true;
    const json state = Update({"Goal " + kGoal}, goalId, percent, "c", updated);
    EXPECT_FALSE(updated);
    EXPECT_EQ(Calls(state), std::vector<std::string>{});
  }
}

TEST_F(OutlookTaskTest, ANamedTasksFolderIsUpdatedInsteadOfOutlook) {
  ScratchDir tasks;
  const std::string ics = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Tasks 1.0//EN\r\nBEGIN:VTODO\r\n"
                          "UID:a\r\nDTSTAMP:20270101T080000Z\r\nDESCRIPTION:Goal " + kGoal +
                          "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  WriteFile(tasks.file("a.ics"), ics);
  platform::SetEnvironmentValue(kTasksFolderVariable, tasks.path());
  bool updated = false;
  const json state = Update({"Goal " + kGoal}, kGoal, 40, "c", updated);
  platform::RemoveEnvironmentValue(kTasksFolderVariable);
  EXPECT_TRUE(updated);
  EXPECT_EQ(Calls(state), std::vector<std::string>{});
  EXPECT_NE(ReadFile(tasks.file("a.ics")).find("PERCENT-COMPLETE:40\r\n"), std::string::npos);
}

}  // namespace
