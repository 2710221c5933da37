#include "platform/automation.h"

namespace platform {
namespace {

AutomationOutcome NotAvailable(const std::string& what) {
  return {false, what + ": automation of other applications is not available on this system"};
}

}  // namespace

bool AutomationAvailable() { return false; }

bool AutomationServerInstalled(const std::string&) { return false; }

AutomationThread::AutomationThread() : m_outcome(NotAvailable("joining automation")) {}

AutomationThread::~AutomationThread() = default;

AutomationObject& AutomationObject::operator=(AutomationObject&& other) noexcept {
  m_object = other.m_object;
  other.m_object = nullptr;
  return *this;
}

// Nothing is ever held here.
void AutomationObject::Release() { m_object = nullptr; }

AutomationOutcome CreateAutomationObject(const std::string& programmaticId, AutomationObject& object) {
  object.Release();
  return NotAvailable("starting '" + programmaticId + "'");
}

AutomationOutcome InvokeAutomation(const AutomationObject&, int32_t dispatchId, AutomationCall,
                                   const std::vector<AutomationArgument>&, AutomationResultKind, AutomationResult&) {
  return NotAvailable("calling member " + std::to_string(dispatchId));
}

AutomationOutcome LookUpAutomationMember(const AutomationObject&, const std::string& name, int32_t&) {
  return NotAvailable("looking up member '" + name + "'");
}

}  // namespace platform
