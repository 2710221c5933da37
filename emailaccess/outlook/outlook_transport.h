// The Outlook the user has signed in to as the mail system (Windows).
//
// Sending creates one mail item per message (CreateItem of a mail item),
// addressed to the recipient, with the message's subject and plain text, and
// sends it: Outlook delivers it from the user's account and keeps it in Sent
// Items. Replies are read from the default Inbox and moved, once dealt with,
// into the folders of folders.h by their names beside the Inbox (under the
// mailbox's top folder), which are created when missing. A message's key is
// its item's EntryID. Each item is read as the raw message OutlookMailAsMessage
// makes of it, so the reply cycle treats it like mail of any other transport.
// Every member of the object model is called by name (outlook_session.h says
// which failures throw what).
#pragma once

#include "emailaccess/event_log.h"
#include "emailaccess/outlook/outlook_session.h"
#include "emailaccess/transport.h"

#include <map>
#include <optional>

namespace emailaccess {

// The state file of the replies offered from Outlook, apart from the other
// transports' (setting 8 reads through Outlook whatever sends the mail).
inline constexpr const char kOutlookStateFileName[] = "LVEmailAccess.outlook.state";

class OutlookTransport : public IMailSender, public IMailStore {
 public:
  explicit OutlookTransport(EventLog& log);

  std::string Send(const std::string& recipient, const std::string& message) override;
  std::string Route() const override { return "handed to Outlook"; }
  // Outlook composes the mail itself from the parts it is given.
  bool KeepsMessageId() const override { return false; }
  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool Move(const std::string& key, Folder folder) override;
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  struct Waiting {
    OutlookObject item;
    std::string subject;
    std::int64_t arrivalNs = 0;
  };
  // The Inbox's items by EntryID, read once per run.
  std::map<std::string, Waiting>& Inbox();
  // The folder beside the Inbox, made when missing.
  const OutlookObject& FolderBesideInbox(Folder folder);
  std::string SenderAddress(const OutlookObject& item);

  EventLog& m_log;
  OutlookSession m_session;
  OutlookObject m_inbox;
  std::optional<std::map<std::string, Waiting>> m_waiting;
  PerFolder<std::optional<OutlookObject>> m_folders;  // found or made on first use
};

}  // namespace emailaccess
