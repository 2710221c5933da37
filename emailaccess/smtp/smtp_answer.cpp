#include "emailaccess/smtp/smtp_answer.h"

#include <algorithm>
#include <cctype>

namespace emailaccess {
namespace {

bool IsReplyLine(std::string_view line) {
  return line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// True when `text` holds `word` with no letter right before or after it.
bool HasWord(const std::string& text, std::string_view word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const bool before = at > 0 && std::isalpha(static_cast<unsigned char>(text[at - 1]));
    const size_t end = at + word.size();
    const bool after = end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]));
    if (!before && !after) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> LastReply(std::string_view transcript) {
  std::vector<std::string> reply;
  bool complete = false;
  size_t start = 0;
  while (start < transcript.size()) {
    size_t end = transcript.find('\n', start);
    if (end == std::string_view::npos) end = transcript.size();
    std::string line(transcript.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!IsReplyLine(line)) continue;
    if (complete) reply.clear();
    reply.push_back(line);
    complete = line.size() == 3 || line[3] == ' ';
  }
  return reply;
}

std::string ToldReply(const std::vector<std::string>& reply) {
  std::string told;
  for (const std::string& line : reply) told += (told.empty() ? "" : " | ") + line;
  return told;
}

AnswerMeaning ReadAnswer(const std::vector<std::string>& reply, bool cut, bool wholeMessageOut) {
  if (reply.empty()) return AnswerMeaning::Other;
  const std::string code = reply.back().substr(0, 3);
  if (cut && wholeMessageOut && code == "354") return AnswerMeaning::AnswerLost;
  const std::string text = Lower(ToldReply(reply));
  if (code[0] == '4') {
    // 4.7.x is the policy class rate answers use; 432 4.3.2 is Exchange's
    // limit on submissions at once.
    const bool rate = code == "432" || text.find(" 4.7.") != std::string::npos || HasWord(text, "rate") ||
                      HasWord(text, "limit") || HasWord(text, "limited") || HasWord(text, "throttled") ||
                      HasWord(text, "throttling") || HasWord(text, "too many");
    return rate ? AnswerMeaning::Throttled : AnswerMeaning::Other;
  }
  if (code[0] == '5') {
    // Google words its daily limit under 5.4.5; Exchange names its
    // submission quota. A recipient's full mailbox (5.2.2, "over quota") is
    // that one recipient's refusal, not the account's.
    const bool quota = text.find(" 5.4.5") != std::string::npos ||
                       text.find("submissionquotaexceeded") != std::string::npos ||
                       text.find("sending limit") != std::string::npos || text.find("sending quota") != std::string::npos;
    return quota ? AnswerMeaning::QuotaUsedUp : AnswerMeaning::Other;
  }
  return AnswerMeaning::Other;
}

}  // namespace emailaccess
