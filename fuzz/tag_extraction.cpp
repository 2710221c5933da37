// Tag extraction over arbitrary bytes: ExtractBetween with the tags a survey
// or goal status reply carries, GetNumberedTagValue with numbered elements,
// the reply readers' walk over numbered questions and answers, and tags
// taken from the input itself. Each value must be the text that follows the
// first opening tag, less its leading blanks, up to the first closing tag.
// The typed-value readers give either nothing or text of the input that is
// more than blanks and has no blank at either end, and the first pair's
// value less its outer blanks wherever that holds something. The one-pass
// tag index of a reply body gives every value the searching readers give.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.h"
#include "exchange/incoming.h"
#include "util/identifiers.h"
#include "util/tag_index.h"

namespace {

using fuzzing::Require;

// What ExtractBetween promises, worked out independently.
void CheckExtraction(const std::string& text, const std::string& open, const std::string& close) {
  std::string value = "stale";
  const bool found = ExtractBetween(text, open, close, value);
  const size_t openAt = text.find(open);
  const size_t closeAt = text.find(close);
  Require(found == (openAt != std::string::npos && closeAt != std::string::npos), "found iff both tags occur");
  if (!found) {
    Require(value.empty(), "value empty when not found");
    return;
  }
  const size_t begin = openAt + open.size();
  const size_t end = closeAt < begin ? text.size() : closeAt;
  std::string expected = text.substr(begin, end - begin);
  expected = fuzzing::WithoutLeadingBlanks(expected);
  Require(value == expected, "value is the text between the tags less leading blanks");
}

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `value` less spaces, tabs, line breaks and UTF-8 non-breaking spaces at
// both ends, worked out independently.
std::string Trimmed(std::string value) {
  for (;;) {
    if (!value.empty() && IsBlankByte(value.front())) value.erase(0, 1);
    else if (value.rfind("\xC2\xA0", 0) == 0) value.erase(0, 2);
    else break;
  }
  for (;;) {
    if (!value.empty() && IsBlankByte(value.back())) value.pop_back();
    else if (value.size() >= 2 && value.compare(value.size() - 2, 2, "\xC2\xA0") == 0) value.resize(value.size() - 2);
    else break;
  }
  return value;
}

bool IsBlank(const std::string& value) { return Trimmed(value).empty(); }

void CheckTypedValues(const std::string& text, const std::string& open, const std::string& close) {
  std::string first;
  ExtractBetween(text, open, close, first);
  const std::string typed = ExtractTypedValue(text, open, close);
  Require(typed.empty() || !IsBlank(typed), "a typed value is more than blanks");
  Require(typed == Trimmed(typed), "a typed value has no blank at either end");
  Require(typed.empty() || text.find(typed) != std::string::npos, "a typed value is text of the input");
  if (!IsBlank(first)) Require(typed == Trimmed(first), "a first pair that holds something wins");
  const std::string ownLine = ExtractFromTypedLines(text, open, close);
  Require(ownLine.empty() || (!IsBlank(ownLine) && ownLine == Trimmed(ownLine) && text.find(ownLine) != std::string::npos),
          "a value from a typed line is more than blanks, has none at its ends, and is text of the input");
}

// The index's values are the searching readers' values.
void CheckIndex(const TagIndex& index, const std::string& text, const std::string& name) {
  std::string searched, indexed;
  Require(index.Value(name, indexed) == GetTagValue(text, name, searched) && indexed == searched,
          "the index reads a tag as the search does");
  Require(index.TypedValue(name) == TypedTagValue(text, name), "the index reads a typed value as the search does");
  Require(index.ValueOnTypedLine(name) == ExtractFromTypedLines(text, "<" + name + ">", "</" + name + ">"),
          "the index reads a value on a typed line as the search does");
}

bool IsTagName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  for (const char* name : {"SurveyID", "StrategyId", "GoalId", "Status", "Comment", "Body", ""}) {
    CheckExtraction(text, std::string("<") + name + ">", std::string("</") + name + ">");
  }
  for (const char* name : {"Status", "status", "Comment", "answer1"}) {
    CheckTypedValues(text, std::string("<") + name + ">", std::string("</") + name + ">");
  }

  // The survey reply walk: question N and answer N until question N is missing.
  for (int n = 1; n <= 200; ++n) {
    std::string question, answer;
    const bool hasQuestion = exchange::GetNumberedTagValue(text, "QuestionID", n, question);
    exchange::GetNumberedTagValue(text, "answer", n, answer);
    CheckExtraction(text, "<answer" + std::to_string(n) + ">", "</answer" + std::to_string(n) + ">");
    if (!hasQuestion || question.empty()) break;
  }
  for (int n : {0, 1, 2, 10, -1, 2147483647}) {
    std::string value;
    const bool found = exchange::GetNumberedTagValue(text, "Originator", n, value);
    const std::string name = "Originator" + std::to_string(n);
    std::string direct;
    Require(found == ExtractBetween(text, "<" + name + ">", "</" + name + ">", direct) && value == direct,
            "numbered lookup is the element <Name><number>");
  }

  const TagIndex index(text);
  for (const char* name : {"SurveyID", "StrategyId", "GoalId", "Status", "status", "Comment", "answer1", "answer2",
                           "QuestionID1"}) {
    CheckIndex(index, text, name);
  }

  // Tags the input names itself: the first "<...>" of the text, whatever it holds.
  const size_t lt = text.find('<');
  const size_t gt = lt == std::string::npos ? std::string::npos : text.find('>', lt);
  if (gt != std::string::npos && gt - lt < 64) {
    const std::string name = text.substr(lt + 1, gt - lt - 1);
    CheckExtraction(text, "<" + name + ">", "</" + name + ">");
    CheckExtraction(text, "<" + name + ">", "<" + name + ">");
    CheckTypedValues(text, "<" + name + ">", "</" + name + ">");
    CheckTypedValues(text, "<" + name + ">", "<" + name + ">");
    if (IsTagName(name)) CheckIndex(index, text, name);
  }

  std::string quoted = text;
  DoubleSingleQuotes(quoted);
  size_t quotes = 0;
  for (char c : text) quotes += c == '\'';
  Require(quoted.size() == text.size() + quotes, "every single quote doubled, nothing else changed");
  return 0;
}
