#include "emailaccess/outlook/outlook_transport.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/outlook/outlook_message.h"
#include "emailaccess/message/text_encoding.h"

#include <algorithm>

namespace emailaccess {
namespace {

using platform::AutomationArgument;

// Outlook's published enumeration values.
constexpr int32_t kMailItem = 0;     // olMailItem
constexpr int32_t kInboxFolder = 6;  // olFolderInbox
constexpr int32_t kHtmlFormat = 2;   // olFormatHTML

}  // namespace

OutlookTransport::OutlookTransport(EventLog& log)
    : m_log(log), m_inbox(m_session.mapi().Method("GetDefaultFolder", {AutomationArgument::Int32(kInboxFolder)})) {}

std::string OutlookTransport::Send(const std::string& recipient, const std::string& message) {
  // The message as composed for every transport; Outlook is given its parts
  // and writes the mail itself, from the account it has signed in to.
  const IncomingMessage composed = ReadIncomingMessage(message, "");
  if (!composed.parsed) throw TransportError("the composed message cannot be read back", false);
  const OutlookObject mail = m_session.application().Method("CreateItem", {AutomationArgument::Int32(kMailItem)});
  // The name as well, so the recipient sees it and Outlook need not look
  // the address up.
  const Mailbox to = RecipientMailboxOfMessage(message);
  mail.Put("To", AutomationArgument::Text(OutlookRecipientText(to.address == recipient ? to.name : "", recipient)));
  mail.Put("Subject", AutomationArgument::Text(composed.subject));
  // The MIME text ends its last line; the body LvMAPI wrote did not.
  std::string body = composed.body;
  if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
  mail.Put("Body", AutomationArgument::Text(body));
  mail.Do("Send");
  return "handed to Outlook (kept in its Sent Items)";
}

std::map<std::string, OutlookTransport::Waiting>& OutlookTransport::Inbox() {
  if (m_waiting) return *m_waiting;
  std::map<std::string, Waiting> waiting;
  const OutlookObject items = m_inbox.Object("Items");
  const int32_t count = items.Number("Count");
  for (int32_t i = 1; i <= count; ++i) {
    OutlookObject item = items.Method("Item", {AutomationArgument::Int32(i)});
    Waiting entry;
    entry.subject = item.Text("Subject");
    std::int64_t seconds = 0;
    if (LocalDateToUnixSeconds(item.Date("ReceivedTime"), seconds)) entry.arrivalNs = seconds * 1000000000;
    const std::string key = item.Text("EntryID");
    entry.item = std::move(item);
    waiting.emplace(key, std::move(entry));
  }
  m_waiting = std::move(waiting);
  return *m_waiting;
}

std::vector<StoredMessage> OutlookTransport::ListWaiting(const std::string& subject) {
  std::vector<StoredMessage> listed;
  for (const auto& [key, entry] : Inbox()) {
    if (ContainsIgnoringCase(entry.subject, subject)) listed.push_back({key, entry.arrivalNs});
  }
  std::stable_sort(listed.begin(), listed.end(),
                   [](const StoredMessage& a, const StoredMessage& b) { return a.arrivalNs < b.arrivalNs; });
  return listed;
}

bool OutlookTransport::IsWaiting(const std::string& key) { return Inbox().count(key) > 0; }

std::string OutlookTransport::SenderAddress(const OutlookObject& item) {
  // Senders in the same Exchange organisation come as X.500 names; their
  // SMTP address is the Exchange user's primary one.
  if (item.Text("SenderEmailType") == "EX") {
    try {
      const std::string smtp = item.Object("Sender").Method("GetExchangeUser", {}).Text("PrimarySmtpAddress");
      if (!smtp.empty()) return smtp;
    } catch (const TransportError& e) {
      m_log.Info("no SMTP address for an Exchange sender (" + std::string(e.what()) + "); the Exchange name is used");
    }
  }
  return item.Text("SenderEmailAddress");
}

std::string OutlookTransport::Read(const std::string& key) {
  auto found = Inbox().find(key);
  if (found == Inbox().end()) throw TransportError("no longer in Outlook's Inbox", false);
  const OutlookObject& item = found->second.item;
  OutlookMail mail;
  mail.messageClass = item.Text("MessageClass");
  mail.senderAddress = SenderAddress(item);
  mail.subject = found->second.subject;
  mail.received = item.Date("ReceivedTime");
  mail.body = item.Text("Body");
  if (item.Number("BodyFormat") == kHtmlFormat) mail.htmlBody = item.Text("HTMLBody");
  return OutlookMailAsMessage(mail);
}

const OutlookObject& OutlookTransport::FolderBesideInbox(Folder which) {
  std::optional<OutlookObject>& folder = m_folders[which];
  if (folder) return *folder;
  const std::string name = InfoOf(which).name;
  const OutlookObject folders = m_inbox.Object("Parent").Object("Folders");
  const int32_t count = folders.Number("Count");
  for (int32_t i = 1; i <= count && !folder; ++i) {
    OutlookObject candidate = folders.Method("Item", {AutomationArgument::Int32(i)});
    if (candidate.Text("Name") == name) folder = std::move(candidate);
  }
  if (!folder) {
    folder = folders.Method("Add", {AutomationArgument::Text(name)});
    m_log.Info("created the Outlook folder \"" + name + "\" beside the Inbox");
  }
  return *folder;
}

// Reading an item through the object model leaves it unread, so a folder
// left for a person gets it as the person has left it.
bool OutlookTransport::Move(const std::string& key, Folder folder) {
  auto found = Inbox().find(key);
  if (found == Inbox().end()) return false;
  const OutlookObject& target = FolderBesideInbox(folder);
  found->second.item.Do("Move", {AutomationArgument::Object(target.raw())});
  Inbox().erase(found);
  return true;
}

void OutlookTransport::Check(std::vector<CheckFinding>& findings) {
  try {
    findings.push_back({true, "Outlook: the Inbox holds " + std::to_string(Inbox().size()) + " message(s)"});
  } catch (const TransportError& e) {
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
