#include "emailaccess/graph/graph_answers.h"

#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/text_encoding.h"
#include "emailaccess/signin/token_answer.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <sstream>

namespace emailaccess {
namespace {

using nlohmann::json;

constexpr const char kClassProperty[] = "String 0x001A";  // PR_MESSAGE_CLASS
constexpr const char kSizeProperty[] = "Integer 0x0E08";  // PR_MESSAGE_SIZE

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "String 0x1a" (as Graph names it back) and "String 0x001A" are one
// property: the same type and tag.
bool SameProperty(const std::string& id, const std::string& wanted) {
  const auto parts = [](const std::string& text) {
    const size_t blank = text.find(' ');
    unsigned long tag = 0;
    if (blank != std::string::npos) {
      std::string_view digits = std::string_view(text).substr(blank + 1);
      if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
      std::from_chars(digits.data(), digits.data() + digits.size(), tag, 16);
    }
    return std::make_pair(Lower(text.substr(0, blank)), tag);
  };
  return parts(id) == parts(wanted);
}

// The member `key` of `object`; null when it is not an object or has none.
const json* Field(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

}  // namespace

std::string JsonText(const json& object, const char* key) {
  const json* value = Field(object, key);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

BatchItem BatchRequest(std::string method, std::string target, json body) {
  BatchItem item;
  item.method = std::move(method);
  item.target = std::move(target);
  item.body = std::move(body);
  return item;
}

void ReadBatchAnswers(const json& answer, const std::vector<BatchItem*>& items) {
  for (BatchItem* item : items) {
    item->status = 0;
    item->answer = json();
    item->retryAfterSeconds = -1;
  }
  const json* responses = Field(answer, "responses");
  if (!responses || !responses->is_array()) return;
  for (const json& one : *responses) {
    const std::string id = JsonText(one, "id");
    size_t index = items.size();
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), index);
    if (ec != std::errc() || end != id.data() + id.size() || index >= items.size()) continue;
    BatchItem& item = *items[index];
    const json* status = Field(one, "status");
    item.status = status && status->is_number_integer() ? status->get<long>() : 0;
    if (item.status < 100 || item.status > 599) item.status = 0;
    const json* body = Field(one, "body");
    item.answer = body ? *body : json();
    const json* headers = Field(one, "headers");
    if (headers && headers->is_object()) {
      for (const auto& [name, value] : headers->items()) {
        if (Lower(name) == "retry-after" && value.is_string()) item.retryAfterSeconds = RetryAfterValue(value.get<std::string>());
      }
    }
  }
}

std::optional<ListedMessage> ReadListedMessage(const json& item) {
  ListedMessage message;
  message.id = JsonText(item, "id");
  // The id goes into URLs, log lines and the intake's records.
  if (message.id.empty() || !IsPrintableAscii(message.id, false)) return std::nullopt;
  message.subject = SingleLine(JsonText(item, "subject"));
  message.receivedNs = GraphTimeNs(JsonText(item, "receivedDateTime"));
  const json* isRead = Field(item, "isRead");
  message.isRead = isRead && isRead->is_boolean() && isRead->get<bool>();
  const json* properties = Field(item, "singleValueExtendedProperties");
  if (properties && properties->is_array()) {
    for (const json& property : *properties) {
      const std::string id = JsonText(property, "id"), value = JsonText(property, "value");
      if (SameProperty(id, kClassProperty)) message.messageClass = SingleLine(value);
      if (SameProperty(id, kSizeProperty)) {
        std::int64_t size = -1;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), size);
        if (ec == std::errc() && end == value.data() + value.size() && size > 0) message.size = size;
      }
    }
  }
  return message;
}

std::optional<TodoList> ReadTodoList(const json& item) {
  TodoList list{JsonText(item, "id"), SingleLine(JsonText(item, "displayName"))};
  // The ids go into URLs and log lines.
  if (list.id.empty() || !IsPrintableAscii(list.id, false)) return std::nullopt;
  return list;
}

std::optional<TodoTask> ReadTodoTask(const json& item) {
  TodoTask task{JsonText(item, "id"), SingleLine(JsonText(item, "title")), {}, false};
  if (task.id.empty() || !IsPrintableAscii(task.id, false)) return std::nullopt;
  if (const json* body = Field(item, "body")) {
    task.content = JsonText(*body, "content");
    task.html = Lower(JsonText(*body, "contentType")) == "html";
  }
  return task;
}

std::string GraphErrorText(long status, const std::string& body) {
  std::string text = "HTTP " + std::to_string(status);
  const json answer = json::parse(body, nullptr, false);
  if (const json* error = Field(answer, "error"); error && error->is_object()) {
    if (const std::string code = JsonText(*error, "code"); !code.empty()) text += " " + SingleLine(code);
    if (const std::string message = JsonText(*error, "message"); !message.empty()) text += ": " + SingleLine(message);
  }
  return text;
}

int RetryAfterValue(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  int seconds = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  return ec == std::errc() && end == text.data() + text.size() && seconds >= 0 ? seconds : -1;
}

int RetryAfterSeconds(const std::string& headers) {
  int seconds = -1;
  std::istringstream lines(headers);
  for (std::string line; std::getline(lines, line);) {
    // A new answer (after "100 Continue") starts over.
    if (line.rfind("HTTP/", 0) == 0) seconds = -1;
    const size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(line.substr(0, colon)) == "retry-after") {
      seconds = RetryAfterValue(std::string_view(line).substr(colon + 1));
    }
  }
  return seconds;
}

std::int64_t GraphTimeNs(const std::string& text) {
  if (text.empty() || text.find('\0') != std::string::npos) return 0;
  GDateTimePtr when(g_date_time_new_from_iso8601(text.c_str(), nullptr));
  if (!when) return 0;
  // Nanoseconds since 1970 reach to the year 2262; a time outside is no arrival time.
  const std::int64_t seconds = g_date_time_to_unix(when.get());
  if (seconds < 0 || seconds >= std::numeric_limits<std::int64_t>::max() / 1000000000 - 1) return 0;
  return seconds * 1000000000 +
         static_cast<std::int64_t>(g_date_time_get_microsecond(when.get())) * 1000;
}

}  // namespace emailaccess
