#include "emailaccess/graph/graph_tasks.h"

#include "emailaccess/message/text_encoding.h"
#include "exchange/status_update.h"

#include <cctype>
#include <charconv>

namespace emailaccess {
namespace {

using nlohmann::json;

constexpr const char kPermission[] = "Tasks.ReadWrite";

struct FoundTask {
  TodoList list;
  TodoTask task;
};

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "<br>";
        break;
      case '\n': out += "<br>"; break;
      default: out += text[i];
    }
  }
  return out;
}

// Every list, in Graph's order: all pages are read before the first task
// list is walked, so no listing is left half read.
std::vector<TodoList> TaskLists(GraphClient& client) {
  std::vector<TodoList> lists;
  client.EachItem("listing the To Do lists", "/me/todo/lists", kPermission, [&](const json& item) {
    if (std::optional<TodoList> list = ReadTodoList(item)) lists.push_back(std::move(*list));
    return true;
  });
  return lists;
}

std::optional<FoundTask> FirstTaskHolding(GraphClient& client, const std::string& goalId, size_t& lists,
                                          size_t& tasks) {
  std::optional<FoundTask> found;
  for (const TodoList& list : TaskLists(client)) {
    ++lists;
    const std::string path = "/me/todo/lists/" + client.Escaped(list.id) + "/tasks";
    client.EachItem("listing the tasks of " + list.name, path, kPermission, [&](const json& item) {
      ++tasks;
      std::optional<TodoTask> task = ReadTodoTask(item);
      if (!task || task->content.find(goalId) == std::string::npos) return true;
      found = FoundTask{list, std::move(*task)};
      return false;
    });
    if (found) return found;
  }
  return found;
}

}  // namespace

std::optional<GoalStatus> ReadGoalStatus(const std::vector<std::string>& operands, std::string& why) {
  if (operands.size() != 3) {
    why = "--update-goal-task takes GOAL-ID PERCENT COMMENT, not " + std::to_string(operands.size()) + " argument(s)";
    return std::nullopt;
  }
  GoalStatus status{operands[0], 0, operands[2]};
  if (status.goalId.empty()) {
    why = "--update-goal-task: the goal identifier is empty (it would match every task)";
    return std::nullopt;
  }
  const std::string& percent = operands[1];
  const auto [end, ec] = std::from_chars(percent.data(), percent.data() + percent.size(), status.percent);
  if (percent.empty() || ec != std::errc() || end != percent.data() + percent.size() || status.percent < 0 ||
      status.percent > 100) {
    why = "--update-goal-task: the percentage must be a whole number from 0 to 100, not '" + percent + "'";
    return std::nullopt;
  }
  return status;
}

std::string TodoStatus(int percent) {
  if (percent >= 100) return "completed";
  return percent > 0 ? "inProgress" : "notStarted";
}

std::string WithAddedText(const std::string& content, bool html, const std::string& text) {
  if (!html) return content + text;
  const std::string added = HtmlEscaped(text);
  std::string lower = content;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t closing = lower.rfind("</body>");
  if (closing == std::string::npos) return content + added;
  return content.substr(0, closing) + added + content.substr(closing);
}

bool UpdateTodoGoalTask(GraphClient& client, const GoalStatus& status, EventLog& log) {
  size_t lists = 0, tasks = 0;
  const std::optional<FoundTask> found = FirstTaskHolding(client, status.goalId, lists, tasks);
  if (!found) {
    log.Info("no To Do task holds the goal " + SingleLine(status.goalId) + " (" + std::to_string(tasks) +
             " task(s) in " + std::to_string(lists) + " list(s) looked through); nothing changed");
    return false;
  }
  // Graph takes UTF-8 only; LvMAPI's text may come in the office's code page.
  const std::string added = Utf8OrWindows1252(exchange::GoalStatusUpdateText(status.percent, status.comment));
  const json change = {{"body", {{"content", WithAddedText(found->task.content, found->task.html, added)},
                                 {"contentType", found->task.html ? "html" : "text"}}},
                       {"status", TodoStatus(status.percent)}};
  client.Call("updating the task " + found->task.title,
              {"PATCH",
               "/me/todo/lists/" + client.Escaped(found->list.id) + "/tasks/" + client.Escaped(found->task.id),
               change.dump(-1, ' ', false, json::error_handler_t::replace), "application/json", {}},
              kPermission);
  log.Info("the To Do task \"" + found->task.title + "\" in the list \"" + found->list.name + "\" holds the goal " +
           SingleLine(status.goalId) + ": status " + TodoStatus(status.percent) + ", " +
           std::to_string(status.percent) + " % and the comment added to its body");
  return true;
}

}  // namespace emailaccess
