// Automation of another application through its dispatch interface: the
// application reached by its programmatic identifier ("Outlook.Application"),
// its objects' members called by dispatch identifier (or looked up by name
// first) with typed arguments and a typed result. Texts are UTF-8 here and
// converted to and from the system's wide texts on the way.
//
// Nothing here throws: every call returns an outcome. Where the system has
// no automation, AutomationAvailable is false and every call reports that.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// True where the system can automate other applications at all.
bool AutomationAvailable();

// True when an application that can be automated is installed under
// `programmaticId` ("Outlook.Application"); it is not started.
bool AutomationServerInstalled(const std::string& programmaticId);

struct AutomationOutcome {
  bool ok = false;
  std::string error;  // why not: the call and the system's or the application's reason
};

// Automation works only on a thread that has joined it, in the single-threaded
// apartment that applications with windows expect. The thread joins for the
// object's lifetime and leaves when it goes (only if this object joined it);
// every AutomationObject used on the thread must go before it.
class AutomationThread {
 public:
  AutomationThread();
  ~AutomationThread();
  AutomationThread(const AutomationThread&) = delete;
  AutomationThread& operator=(const AutomationThread&) = delete;

  // Whether automation can be used on this thread; when not, why.
  const AutomationOutcome& outcome() const { return m_outcome; }

 private:
  AutomationOutcome m_outcome;
  bool m_leave = false;
};

// One object of the automated application, held by one reference that goes
// with the object (or with Release). Moves, never copies.
class AutomationObject {
 public:
  AutomationObject() = default;
  ~AutomationObject() { Release(); }
  AutomationObject(AutomationObject&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
  AutomationObject& operator=(AutomationObject&& other) noexcept;
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  bool held() const { return m_object != nullptr; }
  // Gives the reference back now; the object then holds nothing.
  void Release();

 private:
  friend struct AutomationAccess;  // the system's side, in the platform sources
  void* m_object = nullptr;
};

// An argument of a call: a text, a 32-bit integer, an optional argument left
// out (the application then uses its default), or one of the application's
// own objects (which must outlive the call).
struct AutomationArgument {
  enum class Kind { Text, Int32, Omitted, Object };
  Kind kind = Kind::Omitted;
  std::string text;
  int32_t number = 0;
  const AutomationObject* object = nullptr;

  static AutomationArgument Text(std::string value) { return {Kind::Text, std::move(value), 0, nullptr}; }
  static AutomationArgument Int32(int32_t value) { return {Kind::Int32, {}, value, nullptr}; }
  static AutomationArgument Omitted() { return {}; }
  static AutomationArgument Object(const AutomationObject& value) { return {Kind::Object, {}, 0, &value}; }
};

enum class AutomationCall { Method, PropertyGet, PropertyPut };

// What the caller takes from a call: nothing, an object, a 32-bit integer, a
// text or a date. A result of another type is converted where the system can
// (a number to text, say), else the call fails.
enum class AutomationResultKind { None, Object, Int32, Text, Date };

struct AutomationResult {
  AutomationObject object;
  int32_t number = 0;
  std::string text;
  double date = 0.0;  // an automation date: days since 1899-12-30, as the application gives it
};

// Starts the application registered under `programmaticId` (or reaches the
// copy already running, as the application decides) and takes its
// application object. Fails when it is not installed or cannot start.
AutomationOutcome CreateAutomationObject(const std::string& programmaticId, AutomationObject& object);

// Calls member `dispatchId` of `target` as `call` with `arguments` in their
// order (a property put takes the new value as its one argument) and, when
// the call succeeds, fills the part of `result` that `resultKind` names.
AutomationOutcome InvokeAutomation(const AutomationObject& target, int32_t dispatchId, AutomationCall call,
                                   const std::vector<AutomationArgument>& arguments, AutomationResultKind resultKind,
                                   AutomationResult& result);

// The dispatch identifier of the member `name` of `target`, for members not
// known by number beforehand.
AutomationOutcome LookUpAutomationMember(const AutomationObject& target, const std::string& name,
                                         int32_t& dispatchId);

}  // namespace platform
