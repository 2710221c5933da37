// The Inbox of the signed-in mailbox through Microsoft Graph, as the store
// the intake reads replies from: the same rules as on IMAP, the same
// folders (folders.h), the same exactly-once records (offer_state.h).
//
// A message is known by its immutable id (every request says Prefer:
// IdType="ImmutableId"), so the key it was offered under still names it
// after it moved. Listing: the Inbox is searched on the server for the
// subject ($search, which looks at the sender, the subject and the text,
// where a delivery report names the mailing it returns), every page
// followed; a mailbox of thousands of other messages costs a search, not a
// download. Graph gives a search at most kSearchLimit results: when it
// gives that many, the Inbox is also listed page by page (a few requests of
// ids and subjects, no message read) and every message whose subject holds
// the text is taken too, so that no reply waits for a later run. Each
// candidate is read as its raw MIME (GET .../$value), which leaves it
// unread; a report item (message class REPORT.*, Outlook's rule replies) is
// marked Auto-Submitted with its class for the reader, as the Outlook road
// does.
//
// Filing: the folders stand beside the Inbox (at the top of the mailbox,
// where the IMAP road and Outlook put them) and are made when missing. A
// message is marked read (except for a folder left for a person) and moved
// with POST .../move; the moves the intake announces (WillMove) go twenty
// requests to a $batch. A message no longer in the Inbox is not moved
// again: Move returns false. One step moves it, so an earlier run cut off
// leaves nothing half done. Failures throw TransportError (graph_client.h).
#pragma once

#include "emailaccess/graph/graph_client.h"
#include "emailaccess/transport.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace emailaccess {

// The most results Graph gives for one $search of messages.
inline constexpr size_t kSearchLimit = 1000;

class GraphStore : public IMailStore {
 public:
  // `searchLimit`: the most results one search gives (a stand-in's own).
  GraphStore(const Config& config, EventLog& log, size_t searchLimit = kSearchLimit);
  // Logs how many requests of which kind the run made.
  ~GraphStore() override;

  std::vector<StoredMessage> ListWaiting(const std::string& subject) override;
  bool IsWaiting(const std::string& key) override;
  std::string Read(const std::string& key) override;
  bool Move(const std::string& key, Folder folder) override;
  void WillMove(const std::vector<std::pair<std::string, Folder>>& moves) override;
  // The Inbox with its counts and the folders; creates and moves nothing.
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  // What became of one filing run ahead of its Move call.
  struct Filed {
    bool moved = false;
    std::optional<TransportError> error;
  };

  const std::string& InboxId();
  // The id of the folder beside the Inbox named `name`; empty when there is none.
  std::string FindFolder(const std::string& name);
  const std::string& FolderId(Folder folder);
  // Hands every item of every page from `target` on to `each`.
  void EachPage(const std::string& action, std::string target, const std::function<void(const nlohmann::json&)>& each);
  // Notes a message of a listing; false when it names no usable id.
  bool NoteListed(const nlohmann::json& item, std::map<std::string, StoredMessage>& found);
  // Files the messages of `plan` (at most kRequestsPerBatch) into m_filed.
  void FileBatch(const std::vector<std::pair<std::string, Folder>>& plan);
  // "/me/messages/{id}" with the id escaped for a URL path.
  std::string MessagePath(const std::string& id);

  const Config& m_config;
  EventLog& m_log;
  GraphClient m_client;
  std::string m_inboxId;
  PerFolder<std::string> m_folderIds;              // known to exist
  std::set<std::string> m_inInbox;                 // ids the last listing found in the Inbox
  std::set<std::string> m_read;                    // ... of them already read
  std::map<std::string, std::string> m_classes;   // id -> message class, where the listing told it
  std::vector<std::pair<std::string, Folder>> m_plan;  // moves announced, in order
  std::map<std::string, Filed> m_filed;           // moves done ahead of their Move call
  size_t m_searchLimit;
  int m_pages = 0;
  int m_readCount = 0;
  int m_moved = 0;
  int m_batches = 0;
};

// The text for $search="...": the subject as one phrase, or nullopt when it
// holds a character a phrase cannot carry (the Inbox is then listed whole).
std::optional<std::string> GraphSearchPhrase(const std::string& subject);

}  // namespace emailaccess
