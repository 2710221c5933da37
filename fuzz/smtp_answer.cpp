// A submission server's answers as libcurl's transcript gives them, through
// the reading that decides whether a mailing waits, stops or counts as
// delivered. Whatever the server wrote: the last reply is made of the
// transcript's own reply lines, every one but the last a continuation
// line; reading it again from its own lines gives it back; a reply that
// was not cut short is never taken for a lost answer; only a 4xx reply
// means throttling and only a 5xx one a used-up quota.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emailaccess/smtp/smtp_answer.h"
#include "fuzz_checks.h"

using emailaccess::AnswerMeaning;
using fuzzing::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool cut = data[0] & 1;
  const bool wholeMessageOut = data[0] & 2;
  const std::string_view transcript(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::vector<std::string> reply = emailaccess::LastReply(transcript);
  std::string again;
  for (size_t i = 0; i < reply.size(); ++i) {
    const std::string& line = reply[i];
    Require(line.size() >= 3 && line.find('\n') == std::string::npos, "a reply line is a line with a code");
    Require(transcript.find(line) != std::string_view::npos, "every reply line stands in the transcript");
    if (i + 1 < reply.size()) Require(line.size() > 3 && line[3] == '-', "only the last line may end the reply");
    again += line + "\r\n";
  }
  Require(emailaccess::LastReply(again) == reply, "the reply read from its own lines is the same reply");
  const std::string told = emailaccess::ToldReply(reply);
  for (const std::string& line : reply) Require(told.find(line) != std::string::npos, "every line is told");

  const AnswerMeaning meaning = emailaccess::ReadAnswer(reply, cut, wholeMessageOut);
  if (reply.empty()) Require(meaning == AnswerMeaning::Other, "no reply means nothing beyond its digit");
  if (!cut || !wholeMessageOut) Require(meaning != AnswerMeaning::AnswerLost, "an answer that came is not lost");
  if (meaning == AnswerMeaning::Throttled) Require(reply.back()[0] == '4', "only a 4xx reply throttles");
  if (meaning == AnswerMeaning::QuotaUsedUp) Require(reply.back()[0] == '5', "only a 5xx reply ends a quota");
  return 0;
}
