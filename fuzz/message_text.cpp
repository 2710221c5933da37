// A raw mail message, as anyone may send it, through the mail-access
// program's reading: MIME tree, transfer encodings, charsets, HTML, format
// flowed, headers. Whatever arrives, the texts handed on are UTF-8, the body
// has CR LF breaks only, and the record written for LvMAPI reads back as
// exactly one record carrying that body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/exchange_files.h"
#include "emailaccess/message_text.h"
#include "emailaccess/text_encoding.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const emailaccess::IncomingMessage message = emailaccess::ReadIncomingMessage(raw, "lvmapi@localhost");
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
  const std::string file = emailaccess::FormatIncomingExchange({{message.senderAddress, date, message.body}});
  const std::vector<fuzzing::Record> back = ReadIncomingRecords(file, 5);
  Require(back.size() == 1, "one message is one record");
  std::string body = message.body;
  emailaccess::NeutraliseExchangeTags(body);
  Require(back[0].body == fuzzing::WithoutLeadingBlanks(body), "the body reaches LvMAPI");
  return 0;
}
