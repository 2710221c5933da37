// The Outlook the user has signed in to, reached through its published object
// model: the application and its MAPI namespace, and a driver that calls any
// of its objects' members by name.
//
// Members are looked up by name (GetIDsOfNames) on every call, so the
// program depends only on the names Outlook publishes, never on numbers that
// a version might change. Outlook not installed or not startable throws
// OutlookUnavailable (a setting to correct: transport = outlook, or setting 8,
// on a computer without Outlook). A call Outlook refuses or cannot answer
// (busy with a dialog, RPC_E_CALL_REJECTED, a failed Invoke) throws a
// temporary TransportError that concerns the connection: the run stops there
// and the next one completes it.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/transport.h"
#include "platform/automation.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace emailaccess {

class OutlookUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What this computer offers for mail without a settings file: Folders where
// the system cannot automate applications at all, else Outlook when it is
// installed, else None.
LocalMail SystemLocalMail();

// One Outlook object; its reference goes with it.
class OutlookObject {
 public:
  using Arguments = std::vector<platform::AutomationArgument>;

  OutlookObject() = default;
  OutlookObject(platform::AutomationObject object, std::string what)
      : m_object(std::move(object)), m_what(std::move(what)) {}

  // A property or method whose result is another object.
  OutlookObject Object(const std::string& name, const Arguments& arguments = {},
                       platform::AutomationCall call = platform::AutomationCall::PropertyGet) const;
  OutlookObject Method(const std::string& name, const Arguments& arguments) const {
    return Object(name, arguments, platform::AutomationCall::Method);
  }
  std::string Text(const std::string& name) const;
  int32_t Number(const std::string& name) const;
  double Date(const std::string& name) const;
  void Put(const std::string& name, platform::AutomationArgument value) const;
  // A method whose result, if any, is not needed.
  void Do(const std::string& name, const Arguments& arguments = {}) const;

  const platform::AutomationObject& raw() const { return m_object; }

 private:
  platform::AutomationResult Invoke(const std::string& name, platform::AutomationCall call, const Arguments& arguments,
                                    platform::AutomationResultKind kind) const;

  platform::AutomationObject m_object;
  std::string m_what;  // for messages: "the Inbox", "a mail item"
};

// Joins automation on this thread and starts (or reaches) Outlook. The
// thread leaves automation only after every object made here has gone, so
// objects taken from the session must go before it.
class OutlookSession {
 public:
  OutlookSession();

  const OutlookObject& application() const { return m_application; }
  const OutlookObject& mapi() const { return m_mapi; }

 private:
  platform::AutomationThread m_thread;  // first made, last gone
  OutlookObject m_application;
  OutlookObject m_mapi;
};

}  // namespace emailaccess
