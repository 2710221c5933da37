// The sending path, from an arbitrary outgoing exchange file to the messages
// composed from it, read back by the program's own mail reader: every
// message has its one recipient and our sender, and gives back the subject
// and the body it was composed from. A subject or a name that could forge
// a header would show up here as a changed subject, sender or body.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "emailaccess/message/compose.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/message/text_encoding.h"
#include "emailaccess/sending.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Require;

// Line breaks and blanks at the end of a body are not the body's content:
// a mail part ends with a line break of its own.
std::string WithoutTrailingBreaks(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The U+FFFD the reader puts where a NUL byte stood.
std::string NulsMarked(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\0' ? std::string("\xEF\xBF\xBD") : std::string(1, c);
  return out;
}

// Blanks around a header's value are not part of it.
std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the subject as the command line gives it; the rest is
  // the exchange file
  const size_t cut = input.find('\n');
  if (cut == std::string_view::npos) return 0;
  // (a command-line argument, so it ends at a NUL byte).
  const std::string_view typed = input.substr(0, std::min(cut, input.find('\0')));
  const std::string subject = emailaccess::SingleLine(emailaccess::Utf8OrWindows1252(typed));
  exchange::Outgoing outgoing;
  std::string error;
  if (!emailaccess::ReadOutgoingExchange(input.substr(cut + 1), outgoing, error)) return 0;

  const emailaccess::Mailbox sender{"LvMAPI", "lvmapi@localhost"};
  int composed = 0;
  for (const exchange::Recipient& recipient : outgoing.recipients) {
    if (!emailaccess::IsPlainAddress(recipient.address) || ++composed > 3) continue;
    const emailaccess::ComposedMessage message = emailaccess::ComposeMessage(
        sender, {recipient.name, recipient.address}, subject, outgoing.body, std::chrono::system_clock::from_time_t(1796711712));
    Require(message.data.find('\0') == std::string::npos, "a composed message holds no NUL byte");
    const emailaccess::IncomingMessage back = emailaccess::ReadIncomingMessage(message.data, "someone@else.example");
    Require(back.parsed, "a composed message can be read");
    Require(back.senderAddress == sender.address, "the sender is ours");
    Require(back.automaticReason.find("Auto-Submitted") == 0, "the message says a program sent it");
    Require(Trimmed(back.subject) == Trimmed(subject), "the subject comes back as it was given");
    Require(WithoutTrailingBreaks(back.body) == WithoutTrailingBreaks(NulsMarked(outgoing.body)),
            "the body comes back as it was given");
  }
  return 0;
}
