#include "emailaccess/outlook/outlook_session.h"

namespace emailaccess {
namespace {

using platform::AutomationCall;
using platform::AutomationResultKind;

constexpr const char kProgrammaticId[] = "Outlook.Application";

}  // namespace

LocalMail SystemLocalMail() {
  if (!platform::AutomationAvailable()) return LocalMail::Folders;
  return platform::AutomationServerInstalled(kProgrammaticId) ? LocalMail::Outlook : LocalMail::None;
}

platform::AutomationResult OutlookObject::Invoke(const std::string& name, AutomationCall call,
                                                 const Arguments& arguments, AutomationResultKind kind) const {
  const std::string what = "Outlook, " + m_what + "." + name;
  int32_t member = 0;
  platform::AutomationOutcome outcome = platform::LookUpAutomationMember(m_object, name, member);
  platform::AutomationResult result;
  if (outcome.ok) outcome = platform::InvokeAutomation(m_object, member, call, arguments, kind, result);
  if (!outcome.ok) throw TransportError(what + ": " + outcome.error, true, FailureScope::Connection);
  return result;
}

OutlookObject OutlookObject::Object(const std::string& name, const Arguments& arguments, AutomationCall call) const {
  return OutlookObject(std::move(Invoke(name, call, arguments, AutomationResultKind::Object).object),
                       m_what + "." + name);
}

std::string OutlookObject::Text(const std::string& name) const {
  return Invoke(name, AutomationCall::PropertyGet, {}, AutomationResultKind::Text).text;
}

int32_t OutlookObject::Number(const std::string& name) const {
  return Invoke(name, AutomationCall::PropertyGet, {}, AutomationResultKind::Int32).number;
}

double OutlookObject::Date(const std::string& name) const {
  return Invoke(name, AutomationCall::PropertyGet, {}, AutomationResultKind::Date).date;
}

void OutlookObject::Put(const std::string& name, platform::AutomationArgument value) const {
  Invoke(name, AutomationCall::PropertyPut, {std::move(value)}, AutomationResultKind::None);
}

void OutlookObject::Do(const std::string& name, const Arguments& arguments) const {
  Invoke(name, AutomationCall::Method, arguments, AutomationResultKind::None);
}

OutlookSession::OutlookSession() {
  if (!platform::AutomationAvailable()) {
    throw OutlookUnavailable("transport = outlook (or flag 1) needs Outlook on Windows");
  }
  if (!m_thread.outcome().ok) throw OutlookUnavailable("Outlook cannot be reached: " + m_thread.outcome().error);
  platform::AutomationObject application;
  const platform::AutomationOutcome created = platform::CreateAutomationObject(kProgrammaticId, application);
  if (!created.ok) throw OutlookUnavailable("Outlook is not installed or cannot be started: " + created.error);
  m_application = OutlookObject(std::move(application), "Application");
  // The session of the profile the user has signed in to.
  m_mapi = m_application.Method("GetNamespace", {platform::AutomationArgument::Text("MAPI")});
}

}  // namespace emailaccess
