// Microsoft Graph's answers over arbitrary bytes: a page of a message
// listing or of To Do's lists and tasks, a $batch answer, an error body, the header lines with
// Retry-After. What is taken from them may go into URLs, log lines and the
// intake's records: an id is printable ASCII without blanks, texts are one
// line, an error text starts with its status, the seconds are -1 or more, a
// batch status is 0 (none) or an HTTP status, and reading twice gives the
// same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/graph/graph_answers.h"
#include "emailaccess/signin/token_answer.h"
#include "fuzz_checks.h"

using emailaccess::ListedMessage;
using fuzzing::Require;
using nlohmann::json;

namespace {

bool OneLine(const std::string& text) { return text.find_first_of("\r\n") == std::string::npos; }

std::string Fields(const std::optional<ListedMessage>& m) {
  if (!m) return "none";
  return m->id + '\n' + m->subject + '\n' + std::to_string(m->receivedNs) + '\n' + std::to_string(m->isRead) + '\n' +
         m->messageClass + '\n' + std::to_string(m->size);
}

void CheckListed(const json& item) {
  const std::optional<ListedMessage> listed = emailaccess::ReadListedMessage(item);
  if (listed) {
    Require(!listed->id.empty() && emailaccess::IsPrintableAscii(listed->id, false), "ids are printable ASCII");
    Require(OneLine(listed->subject) && OneLine(listed->messageClass), "texts are one line");
    Require(listed->size == -1 || listed->size > 0, "a size is known and positive, or -1");
  }
  Require(Fields(emailaccess::ReadListedMessage(item)) == Fields(listed), "reading is repeatable");
}

// To Do's lists and tasks: the same rules for ids and names.
void CheckTodo(const json& item) {
  const auto list = emailaccess::ReadTodoList(item);
  const auto task = emailaccess::ReadTodoTask(item);
  for (const std::string* id : {list ? &list->id : nullptr, task ? &task->id : nullptr}) {
    if (id) Require(!id->empty() && emailaccess::IsPrintableAscii(*id, false), "To Do ids are printable ASCII");
  }
  Require(!list || OneLine(list->name), "a list's name is one line");
  Require(!task || OneLine(task->title), "a task's title is one line");
  Require(!task == !list, "a task and a list are told by the same id");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int seconds = emailaccess::RetryAfterSeconds(text);
  Require(seconds >= -1, "Retry-After is -1 or seconds");
  const std::string error = emailaccess::GraphErrorText(429, text);
  Require(error.rfind("HTTP 429", 0) == 0 && OneLine(error), "an error text is one line after its status");

  const json answer = json::parse(text, nullptr, false);
  if (answer.is_discarded()) return 0;
  CheckListed(answer);
  CheckTodo(answer);
  if (answer.is_object() && answer.contains("value") && answer["value"].is_array()) {
    for (const json& item : answer["value"]) {
      CheckListed(item);
      CheckTodo(item);
    }
  }
  std::vector<emailaccess::BatchItem> items(20);
  std::vector<emailaccess::BatchItem*> pointers;
  for (emailaccess::BatchItem& item : items) pointers.push_back(&item);
  emailaccess::ReadBatchAnswers(answer, pointers);
  for (const emailaccess::BatchItem& item : items) {
    Require(item.status == 0 || (item.status >= 100 && item.status <= 599), "a batch status is an HTTP status");
    Require(item.retryAfterSeconds >= -1, "a batch Retry-After is -1 or seconds");
  }
  return 0;
}
