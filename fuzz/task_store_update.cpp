// The task store's update of an arbitrary ".ics" file. The input is written
// as the only task file of a scratch folder (made once per process under the
// system's temporary folder, named by LVMAPI_TASKS_DIR and removed at exit)
// and the goal "GOAL-7" is updated. Either the update reports success and
// the file is a clean calendar with the new percentage and the goal still in
// its description, or it reports failure and the file is byte for byte what
// was there.
#include <libical/ical.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "fuzz_checks.h"
#include "tasks/goal_task.h"
#include "tasks/task_store.h"

namespace {

using fuzzing::Require;
namespace fs = std::filesystem;

class ScratchTasks {
 public:
  ScratchTasks() {
    std::string pattern = (fs::temp_directory_path() / "lvmapi-fuzz-tasks-XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "scratch folder made");
    m_folder = pattern;
    // Read back the way the store reads: unknown properties are kept.
    ical_set_unknown_token_handling_setting(ICAL_ASSUME_IANA_TOKEN);
    setenv(kTasksFolderVariable, m_folder.c_str(), 1);
  }
  ~ScratchTasks() {
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
  }
  std::string File() const { return m_folder + "/task.ics"; }
  const std::string& Folder() const { return m_folder; }

 private:
  std::string m_folder;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchTasks scratch;
  const std::string original(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(scratch.File(), std::ios::binary | std::ios::trunc);
    out.write(original.data(), static_cast<std::streamsize>(original.size()));
  }
  const int32_t percent = static_cast<int32_t>(size % 102);  // 101 is out of range
  const bool updated = UpdateOutlookGoalTask("GOAL-7", percent, "It's done\r\nmostly");
  const std::string after = ReadAll(scratch.File());

  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch.Folder())) {
    (void)entry;
    ++entries;
  }
  Require(entries == 1, "no temporary file is left beside the task");
  if (!updated) {
    Require(after == original, "a task not updated is left byte for byte");
    return 0;
  }
  Require(percent <= 100, "an out-of-range percentage changes no task");
  std::unique_ptr<icalcomponent, ComponentFree> root(icalparser_parse_string(after.c_str()));
  Require(root != nullptr, "the updated file is a calendar");
  Require(icalcomponent_count_errors(root.get()) == 0, "the updated file reads without errors");
  icalcomponent* todo = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
  Require(todo != nullptr, "the updated file holds the task");
  icalproperty* complete = icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
  Require(complete && icalproperty_get_percentcomplete(complete) == percent, "the new percentage is set");
  const char* description = icalcomponent_get_description(todo);
  Require(description && std::string(description).find("GOAL-7") != std::string::npos, "the goal is still named");
  return 0;
}
