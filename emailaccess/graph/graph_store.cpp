#include "emailaccess/graph/graph_store.h"

#include "emailaccess/message/gmime_support.h"
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
constexpr const char kClassProperty[] = "String 0x001A";  // PR_MESSAGE_CLASS
constexpr const char kSizeProperty[] = "Integer 0x0E08";  // PR_MESSAGE_SIZE

std::string Text(const json& object, const char* key) {
  return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>()
                                                                               : std::string();
}

bool Flag(const json& object, const char* key) {
  return object.is_object() && object.contains(key) && object[key].is_boolean() && object[key].get<bool>();
}

struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};

std::string Escaped(CURL* handle, const std::string& text) {
  std::unique_ptr<char, CurlTextFree> escaped(curl_easy_escape(handle, text.data(), static_cast<int>(text.size())));
  if (!escaped) throw TransportError("cannot set up a request: out of memory", false);
  return escaped.get();
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ContainsIgnoringCase(a, b);
}

// "String 0x1a" (as Graph names it back) and "String 0x001A" are one
// property: the same type and tag.
bool SameProperty(const std::string& a, const std::string& b) {
  const auto parts = [](const std::string& id) {
    const size_t blank = id.find(' ');
    const std::string type = id.substr(0, blank);
    return std::make_pair(type, blank == std::string::npos ? 0UL : std::strtoul(id.c_str() + blank + 1, nullptr, 16));
  };
  const auto [typeA, tagA] = parts(a);
  const auto [typeB, tagB] = parts(b);
  return SameName(typeA, typeB) && tagA == tagB;
}

}  // namespace

std::int64_t GraphTimeNs(const std::string& text) {
  GDateTimePtr when(g_date_time_new_from_iso8601(text.c_str(), nullptr));
  if (!when) return 0;
  return static_cast<std::int64_t>(g_date_time_to_unix(when.get())) * 1000000000 +
         static_cast<std::int64_t>(g_date_time_get_microsecond(when.get())) * 1000;
}

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
  return "/me/messages/" + Escaped(m_client.session().handle(), id);
}

const std::string& GraphStore::InboxId() {
  if (m_inboxId.empty()) {
    const json inbox = m_client.CallJson("reading the Inbox", {"GET", "/me/mailFolders/inbox?$select=id", "", "", {}},
                                         kPermission);
    m_inboxId = Text(inbox, "id");
    if (m_inboxId.empty()) {
      throw TransportError(m_client.name() + ": the Inbox has no id", false, FailureScope::Connection);
    }
  }
  return m_inboxId;
}

void GraphStore::EachPage(const std::string& action, std::string target,
                          const std::function<void(const json&)>& each) {
  std::set<std::string> seen;
  while (!target.empty()) {
    // A link back to a page already read would never end.
    if (!seen.insert(target).second) {
      throw TransportError(m_client.name() + ": " + action + ": the next page leads back to one read before", false,
                           FailureScope::Connection);
    }
    const json page = m_client.CallJson(action, {"GET", target, "", "", {}}, kPermission);
    ++m_pages;
    if (page.contains("value") && page["value"].is_array()) {
      for (const json& item : page["value"]) each(item);
    }
    target = Text(page, "@odata.nextLink");
  }
}

std::string GraphStore::FindFolder(const std::string& name) {
  std::string id;
  EachPage("looking for the folder " + name, "/me/mailFolders?$select=id,displayName&$top=100", [&](const json& item) {
    if (id.empty() && SameName(Text(item, "displayName"), name)) id = Text(item, "id");
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
    id = made.status == 409 ? FindFolder(name) : Text(json::parse(made.body, nullptr, false), "id");
    if (id.empty()) {
      throw TransportError(m_client.name() + ": creating the folder " + name + " gave no folder", false);
    }
    if (made.status != 409) m_log.Info(m_client.name() + ": created the folder " + name);
  }
  return id;
}

bool GraphStore::NoteListed(const json& item, std::map<std::string, StoredMessage>& found) {
  const std::string id = Text(item, "id");
  if (id.empty()) return false;
  StoredMessage& stored = found[id];
  stored.key = id;
  stored.arrivalNs = GraphTimeNs(Text(item, "receivedDateTime"));
  m_inInbox.insert(id);
  if (Flag(item, "isRead")) m_read.insert(id);
  if (item.contains("singleValueExtendedProperties") && item["singleValueExtendedProperties"].is_array()) {
    for (const json& property : item["singleValueExtendedProperties"]) {
      const std::string propertyId = Text(property, "id"), value = Text(property, "value");
      if (SameProperty(propertyId, kClassProperty)) m_classes[id] = value;
      if (SameProperty(propertyId, kSizeProperty)) {
        const std::int64_t size = std::strtoll(value.c_str(), nullptr, 10);
        if (size > 0) stored.size = size;
      }
    }
  }
  return true;
}

std::vector<StoredMessage> GraphStore::ListWaiting(const std::string& subject) {
  m_inInbox.clear();
  m_read.clear();
  m_classes.clear();
  CURL* handle = m_client.session().handle();
  const std::string listing = "/me/mailFolders/" + Escaped(handle, InboxId()) + "/messages?$select=" + kSelect +
                              "&$expand=" + Escaped(handle, kExpand) + "&$top=" + std::to_string(kPageSize);
  std::map<std::string, StoredMessage> found;
  const std::optional<std::string> phrase = GraphSearchPhrase(subject);
  size_t results = 0;
  if (phrase) {
    EachPage("searching the Inbox for " + *phrase, listing + "&$search=" + Escaped(handle, *phrase),
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
      if (ContainsIgnoringCase(Text(item, "subject"), subject) || !phrase) NoteListed(item, all);
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
  return answer.status != 404 && Text(json::parse(answer.body, nullptr, false), "parentFolderId") == InboxId();
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
      if (look.status == 200 && Text(look.answer, "parentFolderId") == inbox) {
        if (Flag(look.answer, "isRead")) m_read.insert(key);
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
    m_inboxId = Text(inbox, "id");
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
