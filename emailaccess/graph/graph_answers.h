// Microsoft Graph's answers, read: pure functions of what came over the
// network, without exceptions, so that a fuzz target can feed them anything.
// What they take from an answer is safe to put into a log line, a URL path
// (escaped there) or the intake's records: ids are printable ASCII without
// blanks, texts are one line.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emailaccess {

// One request of a $batch and its answer.
struct BatchItem {
  std::string method;
  std::string target;     // below the service: "/me/messages/{id}/move"
  nlohmann::json body;    // null: none
  long status = 0;        // the answer's; 0: Graph gave none
  nlohmann::json answer;  // the answer's body, null when none
  int retryAfterSeconds = -1;  // Retry-After of the answer, -1 when none
};

BatchItem BatchRequest(std::string method, std::string target, nlohmann::json body = nullptr);

// Fills in the answers of `items` from a $batch answer, which names each by
// its index ("0", "1", ...); an item it names not gets status 0.
void ReadBatchAnswers(const nlohmann::json& answer, const std::vector<BatchItem*>& items);

// A message of a listing, as far as the intake needs it before reading it.
struct ListedMessage {
  std::string id;
  std::string subject;          // one line
  std::int64_t receivedNs = 0;  // 0 when Graph gave no usable time
  bool isRead = false;
  std::string messageClass;     // PR_MESSAGE_CLASS when the listing gave it; one line
  std::int64_t size = -1;       // PR_MESSAGE_SIZE when given; -1 when not known
};

// Nullopt for an item without a usable id.
std::optional<ListedMessage> ReadListedMessage(const nlohmann::json& item);

// A list of Microsoft To Do, and a task of one, as far as the goal's task
// needs them; nullopt for one without a usable id.
struct TodoList {
  std::string id;
  std::string name;  // one line
};
struct TodoTask {
  std::string id;
  std::string title;    // one line
  std::string content;  // its body as Graph gave it
  bool html = false;    // the body is HTML, else plain text
};
std::optional<TodoList> ReadTodoList(const nlohmann::json& item);
std::optional<TodoTask> ReadTodoTask(const nlohmann::json& item);

// The string `key` of a JSON object; empty when there is none.
std::string JsonText(const nlohmann::json& object, const char* key);

// Graph's own words for a refusal, on one line: "HTTP 404
// ErrorItemNotFound: The specified object was not found in the store.", or
// the status alone when the body says nothing.
std::string GraphErrorText(long status, const std::string& body);

// Seconds of a Retry-After header among the header lines of `headers` (the
// last answer's counts); -1 when there is none or it is not a number.
int RetryAfterSeconds(const std::string& headers);
// Seconds of a Retry-After value ("120"); -1 when it is not a number.
int RetryAfterValue(std::string_view value);

// Nanoseconds since 1970 of an ISO 8601 time as Graph writes it
// ("2026-10-02T09:15:00Z"); 0 when it is not one.
std::int64_t GraphTimeNs(const std::string& text);

}  // namespace emailaccess
