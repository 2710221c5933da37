#include "emailaccess/graph/graph_store.h"

#include "emailaccess/message/text_encoding.h"
#include "emailaccess/message/message_text.h"

#include <algorithm>

namespace emailaccess {
namespace {

using nlohmann::json;

constexpr const char kPermission[] = "Mail.ReadWrite";

// Messages to a page: Graph's largest.
constexpr int kPageSize = 1000;

// What a listing asks of each message: no body, only what the intake needs
// before it reads one. The message class tells report items; the size lets
// the intake leave a message over its limit unread.
constexpr const char kSelect[] = "id,subject,receivedDateTime,isRead";
constexpr const char kExpand[] =
    "singleValueExtendedProperties($filter=id eq 'String 0x001A' or id eq 'Integer 0x0E08')";


bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ContainsIgnoringCase(a, b);
}

}  // namespace

std::optional<std::string> GraphSearchPhrase(const std::string& subject) {
  if (subject.empty()) return std::nullopt;
  for (unsigned char c : subject) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') return std::nullopt;
  }
  return "\"" + subject + "\"";
}

GraphStore::GraphStore(const Config& config, EventLog& log, size_t searchLimit)
    : m_config(config), m_log(log), m_client(config, log), m_searchLimit(searchLimit) {}

GraphStore::~GraphStore() {
  if (m_client.requests() == 0) return;
  m_log.Info(m_client.name() + ": " + std::to_string(m_client.requests()) + " request(s): " +
             std::to_string(m_pages) + " page(s) of listings, " + std::to_string(m_readCount) + " message(s) read, " +
             std::to_string(m_moved) + " moved with " + std::to_string(m_batches) + " batch(es)");
}

std::string GraphStore::MessagePath(const std::string& id) {
  return "/me/messages/" + m_client.Escaped(id);
}

const std::string& GraphStore::InboxId() {
  if (m_inboxId.empty()) {
    const json inbox = m_client.CallJson("reading the Inbox", {"GET", "/me/mailFolders/inbox?$select=id", "", "", {}},
                                         kPermission);
    m_inboxId = JsonText(inbox, "id");
    if (m_inboxId.empty()) {
      throw TransportError(m_client.name() + ": the Inbox has no id", false, FailureScope::Connection);
    }
  }
  return m_inboxId;
}

void GraphStore::EachPage(const std::string& action, std::string target,
                          const std::function<void(const json&)>& each) {
  m_pages += m_client.EachItem(action, std::move(target), kPermission, [&](const json& item) {
    each(item);
    return true;
  });
}

std::string GraphStore::FindFolder(const std::string& name) {
  std::string id;
  EachPage("looking for the folder " + name, "/me/mailFolders?$select=id,displayName&$top=100", [&](const json& item) {
    if (id.empty() && SameName(JsonText(item, "displayName"), name)) id = JsonText(item, "id");
  });
  return id;
}

const std::string& GraphStore::FolderId(Folder folder) {
  std::string& id = m_folderIds[folder];
  if (!id.empty()) return id;
  const std::string& name = m_config.graph.folders[folder];
  id = FindFolder(name);
  if (id.empty()) {
    const GraphResponse made = m_client.Call("creating the folder " + name,
                                             {"POST", "/me/mailFolders", json{{"displayName", name}}.dump(),
                                              "application/json", {}},
                                             kPermission, GraphClient::Kind::Repeatable, {409});
    // 409: another program made it at the same moment.
    id = made.status == 409 ? FindFolder(name) : JsonText(json::parse(made.body, nullptr, false), "id");
    if (id.empty()) {
      throw TransportError(m_client.name() + ": creating the folder " + name + " gave no folder", false);
    }
    if (made.status != 409) m_log.Info(m_client.name() + ": created the folder " + name);
  }
  return id;
}

bool GraphStore::NoteListed(const json& item, std::map<std::string, StoredMessage>& found) {
  const std::optional<ListedMessage> listed = ReadListedMessage(item);
  if (!listed) return false;
  StoredMessage& stored = found[listed->id];
  stored.key = listed->id;
  stored.arrivalNs = listed->receivedNs;
  stored.size = listed->size;
  m_inInbox.insert(listed->id);
  if (listed->isRead) m_read.insert(listed->id);
  if (!listed->messageClass.empty()) m_classes[listed->id] = listed->messageClass;
  return true;
}

std::vector<StoredMessage> GraphStore::ListWaiting(const std::string& subject) {
  m_inInbox.clear();
  m_read.clear();
  m_classes.clear();
  const std::string listing = "/me/mailFolders/" + m_client.Escaped(InboxId()) + "/messages?$select=" + kSelect +
                              "&$expand=" + m_client.Escaped(kExpand) + "&$top=" + std::to_string(kPageSize);
  std::map<std::string, StoredMessage> found;
  const std::optional<std::string> phrase = GraphSearchPhrase(subject);
  size_t results = 0;
  if (phrase) {
    EachPage("searching the Inbox for " + *phrase, listing + "&$search=" + m_client.Escaped(*phrase),
             [&](const json& item) { results += NoteListed(item, found) ? 1 : 0; });
  }
  if (!phrase || results >= m_searchLimit) {
    if (phrase) {
      m_log.Info(m_client.name() + ": the search gave " + std::to_string(results) +
                 " results, as many as Graph gives; listing the Inbox for the subject too");
    }
    // Only the subject is looked at here; a report that names the mailing
    // only in its text is found by a later search, once fewer wait.
    std::map<std::string, StoredMessage> all;
    EachPage("listing the Inbox", listing, [&](const json& item) {
      if (ContainsIgnoringCase(JsonText(item, "subject"), subject) || !phrase) NoteListed(item, all);
    });
    for (auto& [id, stored] : all) found.emplace(id, stored);
  }
  std::vector<StoredMessage> waiting;
  waiting.reserve(found.size());
  for (auto& [id, stored] : found) waiting.push_back(std::move(stored));
  // A search gives the newest first; the intake takes the oldest first.
  std::stable_sort(waiting.begin(), waiting.end(),
                   [](const StoredMessage& a, const StoredMessage& b) { return a.arrivalNs < b.arrivalNs; });
  return waiting;
}

bool GraphStore::IsWaiting(const std::string& key) {
  const GraphResponse answer = m_client.Call("looking for " + key, {"GET", MessagePath(key) + "?$select=parentFolderId", "", "", {}},
                                             kPermission, GraphClient::Kind::Repeatable, {404});
  return answer.status != 404 && JsonText(json::parse(answer.body, nullptr, false), "parentFolderId") == InboxId();
}

std::string GraphStore::Read(const std::string& key) {
  GraphResponse answer = m_client.Call("reading " + key, {"GET", MessagePath(key) + "/$value", "", "", {}}, kPermission,
                                       GraphClient::Kind::Repeatable, {404});
  if (answer.status == 404) throw TransportError(m_client.name() + ": message " + key + " is no longer there", false);
  ++m_readCount;
  const auto known = m_classes.find(key);
  const std::string robot = known == m_classes.end() ? std::string() : AutomaticMessageClass(known->second);
  // A report item's MIME need not say it came from a robot; its class does.
  if (!robot.empty()) return "Auto-Submitted: auto-generated; message-class=" + robot + "\r\n" + answer.body;
  return std::move(answer.body);
}

void GraphStore::WillMove(const std::vector<std::pair<std::string, Folder>>& moves) { m_plan = moves; }

bool GraphStore::Move(const std::string& key, Folder folder) {
  if (!m_filed.count(key)) {
    // This one and the next announced ones not filed yet, to one batch.
    std::vector<std::pair<std::string, Folder>> batch = {{key, folder}};
    auto next = std::find_if(m_plan.begin(), m_plan.end(), [&](const auto& m) { return m.first == key; });
    if (next != m_plan.end() && next->second == folder) {
      for (++next; next != m_plan.end() && batch.size() < kRequestsPerBatch; ++next) {
        if (!m_filed.count(next->first)) batch.push_back(*next);
      }
    }
    FileBatch(batch);
  }
  auto filed = m_filed.find(key);
  const Filed outcome = filed->second;
  m_filed.erase(filed);
  if (outcome.error) throw *outcome.error;
  return outcome.moved;
}

void GraphStore::FileBatch(const std::vector<std::pair<std::string, Folder>>& plan) {
  const std::string& inbox = InboxId();
  for (const auto& [key, folder] : plan) FolderId(folder);

  // Which of them still wait in the Inbox: those of this run's listing are
  // known; the others (offered by an earlier run) are looked up.
  std::vector<BatchItem> looks;
  for (const auto& [key, folder] : plan) {
    if (!m_inInbox.count(key)) looks.push_back(BatchRequest("GET", MessagePath(key) + "?$select=id,parentFolderId,isRead"));
  }
  std::set<std::string> gone;
  if (!looks.empty()) {
    std::vector<BatchItem*> items;
    for (BatchItem& item : looks) items.push_back(&item);
    m_client.Batch("looking for " + std::to_string(items.size()) + " message(s) to file", items, kPermission);
    ++m_batches;
    size_t i = 0;
    for (const auto& [key, folder] : plan) {
      if (m_inInbox.count(key)) continue;
      const BatchItem& look = looks[i++];
      if (look.status == 200 && JsonText(look.answer, "parentFolderId") == inbox) {
        const std::optional<ListedMessage> found = ReadListedMessage(look.answer);
        if (found && found->isRead) m_read.insert(key);
      } else if (look.status == 200 || look.status == 404) {
        gone.insert(key);
      } else {
        m_filed[key].error = TransportError(m_client.name() + ": looking for " + key + " failed: HTTP " +
                                                std::to_string(look.status),
                                            look.status == 0 || look.status == 429 || look.status >= 500);
      }
    }
  }

  // Dealt with: read now, unless it goes to a person who has yet to read it.
  std::vector<BatchItem> marks, moves;
  std::vector<std::string> moving;
  for (const auto& [key, folder] : plan) {
    if (gone.count(key)) {
      m_filed[key] = Filed{};
      continue;
    }
    if (m_filed.count(key)) continue;  // its look-up failed
    if (!InfoOf(folder).forPerson && !m_read.count(key)) marks.push_back(BatchRequest("PATCH", MessagePath(key), json{{"isRead", true}}));
    moves.push_back(BatchRequest("POST", MessagePath(key) + "/move", json{{"destinationId", FolderId(folder)}}));
    moving.push_back(key);
  }
  for (std::vector<BatchItem>* requests : {&marks, &moves}) {
    if (requests->empty()) continue;
    std::vector<BatchItem*> items;
    for (BatchItem& item : *requests) items.push_back(&item);
    m_client.Batch(requests == &marks ? "marking messages read" : "filing messages", items, kPermission);
    ++m_batches;
  }
  for (size_t i = 0; i < moving.size(); ++i) {
    const std::string& key = moving[i];
    const long status = moves[i].status;
    Filed& outcome = m_filed[key];
    if (status == 200 || status == 201) {
      outcome.moved = true;
      ++m_moved;
      m_inInbox.erase(key);
    } else if (status != 404) {
      outcome.error = TransportError(m_client.name() + ": moving " + key + " failed: " +
                                         GraphErrorText(status, moves[i].answer.is_null() ? "" : moves[i].answer.dump()),
                                     status == 0 || status == 429 || status >= 500);
    }
  }
}

void GraphStore::Check(std::vector<CheckFinding>& findings) {
  try {
    const json inbox = m_client.CallJson(
        "reading the Inbox", {"GET", "/me/mailFolders/inbox?$select=id,totalItemCount,unreadItemCount", "", "", {}},
        kPermission);
    m_inboxId = JsonText(inbox, "id");
    const auto count = [&](const char* key) {
      return inbox.contains(key) && inbox[key].is_number_integer() ? std::to_string(inbox[key].get<long long>()) : "?";
    };
    findings.push_back({!m_inboxId.empty(), m_client.name() + ": Inbox: " + count("totalItemCount") + " message(s), " +
                                                count("unreadItemCount") + " unread"});
    for (const FolderInfo& info : kFolders) {
      const std::string& name = m_config.graph.folders[info.folder];
      findings.push_back({true, m_client.name() + ": " + info.name + " (" + name + "): " +
                                    (FindFolder(name).empty() ? "not there yet, created on first use" : "ok")});
    }
  } catch (const TransportError& e) {
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
