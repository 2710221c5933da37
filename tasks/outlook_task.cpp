#include "tasks/outlook_task.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/automation.h"
#include "exchange/status_update.h"

namespace {

using platform::AutomationArgument;
using platform::AutomationCall;
using platform::AutomationResultKind;

// The members of Outlook's object model the update calls, by the dispatch
// identifiers Outlook has published for them.
constexpr int32_t kGetNamespace = 0x110;      // Application.GetNamespace
constexpr int32_t kLogon = 0x2105;            // NameSpace.Logon
constexpr int32_t kGetDefaultFolder = 0x210B; // NameSpace.GetDefaultFolder
constexpr int32_t kItems = 0x3100;            // MAPIFolder.Items
constexpr int32_t kCount = 0x50;              // Items.Count
constexpr int32_t kGetFirst = 0x56;           // Items.GetFirst
constexpr int32_t kGetNext = 0x57;            // Items.GetNext
constexpr int32_t kBody = 0x9100;             // TaskItem.Body
constexpr int32_t kPercentComplete = 0xF61F;  // TaskItem.PercentComplete
constexpr int32_t kSave = 0xF048;             // TaskItem.Save

constexpr int32_t kTasksFolder = 13;  // olFolderTasks

class AutomationFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One Outlook object: calls its members and gives its reference back when it
// goes. A failed call throws AutomationFailure, so the update reads as the
// sequence of calls it is, with one handler around it.
class DispatchDriver {
 public:
  explicit DispatchDriver(platform::AutomationObject object) : m_object(std::move(object)) {}

  DispatchDriver Object(int32_t member, AutomationCall call, const std::vector<AutomationArgument>& arguments = {}) {
    return DispatchDriver(std::move(Invoke(member, call, arguments, AutomationResultKind::Object).object));
  }
  int32_t Int32(int32_t member, AutomationCall call) {
    return Invoke(member, call, {}, AutomationResultKind::Int32).number;
  }
  std::string Text(int32_t member, AutomationCall call) {
    return Invoke(member, call, {}, AutomationResultKind::Text).text;
  }
  void Call(int32_t member, AutomationCall call, const std::vector<AutomationArgument>& arguments = {}) {
    Invoke(member, call, arguments, AutomationResultKind::None);
  }

 private:
  platform::AutomationResult Invoke(int32_t member, AutomationCall call,
                                    const std::vector<AutomationArgument>& arguments, AutomationResultKind kind) {
    platform::AutomationResult result;
    const platform::AutomationOutcome outcome =
        platform::InvokeAutomation(m_object, member, call, arguments, kind, result);
    if (!outcome.ok) throw AutomationFailure(outcome.error);
    return result;
  }

  platform::AutomationObject m_object;
};

// The update proper. The drivers go in the reverse order of their making:
// the item, the item list, the folder, the namespace, the application.
bool UpdateFirstMatchingTask(platform::AutomationObject created, const std::string& goalId, int32_t percent,
                             const std::string& comment) {
  DispatchDriver application(std::move(created));
  DispatchDriver mapi = application.Object(kGetNamespace, AutomationCall::Method, {AutomationArgument::Text("MAPI")});
  // The profile, password, dialog and new-session arguments left out: the
  // session of the Outlook the user has signed in to.
  mapi.Call(kLogon, AutomationCall::Method,
            {AutomationArgument::Omitted(), AutomationArgument::Omitted(), AutomationArgument::Omitted(),
             AutomationArgument::Omitted()});
  DispatchDriver folder = mapi.Object(kGetDefaultFolder, AutomationCall::Method,
                                      {AutomationArgument::Int32(kTasksFolder)});
  DispatchDriver items = folder.Object(kItems, AutomationCall::PropertyGet);
  const int32_t count = items.Int32(kCount, AutomationCall::PropertyGet);
  for (int32_t i = 0; i < count; ++i) {
    DispatchDriver item = items.Object(i == 0 ? kGetFirst : kGetNext, AutomationCall::Method);
    const std::string body = item.Text(kBody, AutomationCall::PropertyGet);
    if (body.find(goalId) == std::string::npos) continue;
    item.Call(kBody, AutomationCall::PropertyPut,
              {AutomationArgument::Text(body + exchange::GoalStatusUpdateText(percent, comment))});
    item.Call(kPercentComplete, AutomationCall::PropertyPut, {AutomationArgument::Int32(percent)});
    item.Call(kSave, AutomationCall::Method);
    return true;
  }
  return false;
}

}  // namespace

bool UpdateOutlookTask(const std::string& goalId, int32_t percent, const std::string& comment) {
  if (goalId.empty() || percent < 0 || percent > 100) return false;
  // Joined before Outlook is started, left after every object has gone.
  platform::AutomationThread thread;
  if (!thread.outcome().ok) return false;
  platform::AutomationObject application;
  if (!platform::CreateAutomationObject("Outlook.Application", application).ok) return false;
  try {
    return UpdateFirstMatchingTask(std::move(application), goalId, percent, comment);
  } catch (const std::exception&) {
    // A task update never fails the reply it follows; what Outlook said is
    // nowhere to go.
    return false;
  }
}
