// A raw mail message, as anyone may send it, through the mail-access
// program's reading: MIME tree, transfer encodings, charsets, HTML, format
// flowed, headers. Whatever arrives, the texts handed on are UTF-8, the body
// has CR LF breaks only, and the record written for LvMAPI reads back as
// exactly one record carrying that body. And leaving out the header fields
// nothing reads changes nothing that is read.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/message/body_text.h"
#include "exchange/incoming.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Require;

// The words of a text, quote marks at line starts left out, each with
// whether a line break comes before it: worked out independently.
std::vector<std::pair<std::string, bool>> Words(std::string_view text) {
  std::vector<std::pair<std::string, bool>> words;
  bool lineStart = true, broken = false;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back({word, broken});
    if (!word.empty()) broken = false;
    word.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      flush();
      broken = !words.empty();
      lineStart = true;
      continue;
    }
    if (lineStart && (c == '>' || c == ' ')) continue;
    lineStart = false;
    if (c == ' ' || c == '\t' || c == '\r') {
      flush();
    } else if (text.compare(i, 2, "\xC2\xA0") == 0) {
      flush();
      ++i;
    } else {
      word.push_back(c);
    }
  }
  flush();
  return words;
}

// Rejoining leaves a text alone, or keeps its words and gives it the HTML's
// line breaks, and a rejoined text is left alone the second time.
void CheckRejoin(std::string_view text, std::string_view html) {
  const std::string out = emailaccess::RejoinWrappedLines(text, html);
  if (out == text) return;
  std::vector<std::pair<std::string, bool>> inText = Words(text);
  for (auto& word : inText) word.second = false;
  std::vector<std::pair<std::string, bool>> inOut = Words(out);
  Require(inOut == Words(html), "a rejoined text has the HTML's words and line breaks");
  for (auto& word : inOut) word.second = false;
  Require(inOut == inText, "rejoining keeps the words");
  Require(std::count(out.begin(), out.end(), '\n') < std::count(text.begin(), text.end(), '\n'),
          "a rejoined text has fewer line breaks");
  Require(emailaccess::RejoinWrappedLines(out, html) == out, "a rejoined text is rejoined no further");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  // Input with a zero byte is no mail: its two halves are a text and an HTML text.
  if (const size_t zero = raw.find('\0'); zero != std::string_view::npos) {
    CheckRejoin(raw.substr(0, zero), raw.substr(zero + 1));
  }
  const emailaccess::IncomingMessage message = emailaccess::ReadIncomingMessage(raw, "lvmapi@localhost");
  const emailaccess::IncomingMessage all =
      emailaccess::ReadIncomingMessage(raw, "lvmapi@localhost", emailaccess::HeaderFields::All);
  Require(message.parsed == all.parsed && message.subject == all.subject &&
              message.senderAddress == all.senderAddress && message.automaticReason == all.automaticReason &&
              message.hasDate == all.hasDate && message.localDate == all.localDate && message.body == all.body &&
              message.partsCut == all.partsCut,
          "the header fields left out change nothing read");
  if (!message.parsed) return 0;

  Require(emailaccess::IsValidUtf8(message.subject), "subject is UTF-8");
  Require(emailaccess::IsValidUtf8(message.senderAddress), "sender is UTF-8");
  Require(emailaccess::IsValidUtf8(message.automaticReason), "automatic reason is UTF-8");
  Require(emailaccess::IsValidUtf8(message.body), "body is UTF-8");
  Require(fuzzing::IsCanonicalCrlf(message.body), "body has CR LF breaks only");
  Require(message.body.find('\0') == std::string::npos, "no NUL byte reaches LvMAPI");
  Require(!message.hasDate || message.localDate.size() == 19, "a date is YYYY-MM-DD HH:MM:SS");
  emailaccess::ContainsIgnoringCase(message.subject, "corvane survey");

  const std::string date = message.hasDate ? message.localDate : "2026-01-01 00:00:00";
  const std::string file = exchange::FormatIncomingExchange({{message.senderAddress, date, message.body}});
  const std::vector<fuzzing::Record> back = exchange::ReadIncomingRecords(file, 5);
  Require(back.size() == 1, "one message is one record");
  std::string body = message.body;
  exchange::NeutraliseExchangeTags(body);
  Require(back[0].body == fuzzing::WithoutLeadingBlanks(body), "the body reaches LvMAPI");
  return 0;
}
