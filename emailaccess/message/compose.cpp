#include "emailaccess/message/compose.h"

#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/text_encoding.h"
#include "platform/guid.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace emailaccess {
namespace {

bool IsAtomChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ||
         std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

bool IsLabelChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c >= 0x80;
}

// Dot-separated parts, none empty, each made only of allowed characters.
template <typename CharTest>
bool IsDotted(std::string_view text, CharTest allowed) {
  if (text.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t dot = text.find('.', start);
    std::string_view part = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty()) return false;
    for (unsigned char c : part) {
      if (!allowed(c)) return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// GMime writes a long word of non-ASCII text as one encoded word, however
// long (a hyphenated Greek name came out as 82 characters, where RFC 2047
// allows 75 and strict readers refuse the header), and it folds a subject that
// holds a literal "=?" wrongly, breaking one of its own encoded words across
// two lines. Such text is written here as encoded words of whole characters,
// one per line: 39 bytes give 52 base64 characters, 64 with the markers.
bool NeedsEncodedWords(const std::string& text) {
  return text.find("=?") != std::string::npos ||
         std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string EncodedWordLines(const std::string& utf8) {
  constexpr size_t kBytesPerWord = 39;
  std::string raw;
  for (size_t pos = 0; pos < utf8.size();) {
    size_t end = std::min(utf8.size(), pos + kBytesPerWord);
    // Never split a character: back up to the start of the one cut into.
    size_t start = end;
    while (start > pos && start < utf8.size() && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80) --start;
    if (start > pos) end = start;
    GCharPtr base64(g_base64_encode(reinterpret_cast<const guchar*>(utf8.data() + pos), end - pos));
    raw += std::string(" =?UTF-8?B?") + base64.get() + "?=\n";
    pos = end;
  }
  return raw;
}

// Puts `raw` in place of what GMime would write for `name`.
void SetRawHeader(GMimeObject* object, const char* name, const std::string& raw) {
  GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
  if (header) g_mime_header_set_raw_value(header, raw.c_str());
}

// A key of this message's own, 122 bits from the system's random source (a
// random GUID's), so that no one who has not seen the message can name it.
std::string NewMessageId(const std::string& senderAddress) {
  std::string key;
  for (char c : platform::NewRegistryGuid()) {
    if (std::isxdigit(static_cast<unsigned char>(c))) key.push_back(static_cast<char>(std::tolower(c)));
  }
  return "lvm." + key + senderAddress.substr(senderAddress.find('@'));
}

}  // namespace

bool IsPlainAddress(std::string_view address) {
  size_t at = address.find('@');
  if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos) return false;
  std::string_view local = address.substr(0, at);
  std::string_view domain = address.substr(at + 1);
  if (!IsValidUtf8(address)) return false;
  if (!IsDotted(local, IsAtomChar) || !IsDotted(domain, IsLabelChar)) return false;
  size_t start = 0;
  while (start <= domain.size()) {
    size_t dot = domain.find('.', start);
    if (dot == std::string_view::npos) dot = domain.size();
    if (domain[start] == '-' || domain[dot - 1] == '-') return false;
    start = dot + 1;
  }
  return true;
}

bool ParseMailbox(const std::string& text, Mailbox& out) {
  EnsureGMime();
  GObjectPtr<InternetAddressList> list(internet_address_list_parse(nullptr, text.c_str()));
  if (!list || internet_address_list_length(list.get()) != 1) return false;
  InternetAddress* address = internet_address_list_get_address(list.get(), 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return false;
  const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  if (!addr || !IsPlainAddress(addr)) return false;
  const char* name = internet_address_get_name(address);
  out.name = name ? name : "";
  out.address = addr;
  return true;
}

Mailbox RecipientMailboxOfMessage(const std::string& message) {
  EnsureGMime();
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), message.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!parsed) return {};
  InternetAddressList* to = g_mime_message_get_to(parsed.get());
  if (!to || internet_address_list_length(to) != 1) return {};
  InternetAddress* address = internet_address_list_get_address(to, 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return {};
  const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  if (!addr || !IsPlainAddress(addr)) return {};
  const char* name = internet_address_get_name(address);
  return {name ? name : "", addr};
}

ComposedMessage ComposeMessage(const Mailbox& sender, const Mailbox& recipient, const std::string& subject,
                               const std::string& body, std::chrono::system_clock::time_point date) {
  EnsureGMime();
  GObjectPtr<GMimeMessage> message(g_mime_message_new(TRUE));
  GMimeObject* object = GMIME_OBJECT(message.get());

  // Names are UTF-8; telling GMime so keeps it from choosing ISO-8859-1
  // encoded words for names that happen to fit it.
  auto addMailbox = [&](InternetAddressList* list, const Mailbox& mailbox) {
    InternetAddress* address = internet_address_mailbox_new(mailbox.name.empty() ? nullptr : mailbox.name.c_str(),
                                                            mailbox.address.c_str());
    internet_address_set_charset(address, "utf-8");
    internet_address_list_add(list, address);
    g_object_unref(address);
  };
  addMailbox(g_mime_message_get_from(message.get()), sender);
  const Mailbox to{recipient.name, recipient.address};
  addMailbox(g_mime_message_get_to(message.get()), to);
  g_mime_message_set_subject(message.get(), subject.c_str(), "utf-8");
  if (NeedsEncodedWords(subject)) SetRawHeader(object, "Subject", EncodedWordLines(subject));
  // One mailbox per header, so a name is written as encoded words before
  // the address.
  const std::pair<const char*, const Mailbox*> mailboxes[] = {{"From", &sender}, {"To", &to}};
  for (const auto& [header, mailbox] : mailboxes) {
    if (NeedsEncodedWords(mailbox->name)) {
      SetRawHeader(object, header, EncodedWordLines(mailbox->name) + " <" + mailbox->address + ">\n");
    }
  }

  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
  GDateTimePtr when(g_date_time_new_from_unix_local(static_cast<gint64>(seconds)));
  g_mime_message_set_date(message.get(), when.get());

  const std::string messageId = NewMessageId(sender.address);
  g_mime_object_set_header(object, "Message-ID", ("<" + messageId + ">").c_str(), nullptr);
  g_mime_object_set_header(object, "Auto-Submitted", "auto-generated", nullptr);
  g_mime_object_set_header(object, "X-Auto-Response-Suppress", "OOF, AutoReply", nullptr);

  // The content is set as bytes with the charset and encoding fixed here:
  // g_mime_text_part_set_text would pick ISO-8859-1 and 8bit by itself.
  GObjectPtr<GMimePart> part(g_mime_part_new_with_type("text", "plain"));
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset", "utf-8");
  const std::string unixBody = CrlfToLf(body);
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(unixBody.data(), unixBody.size()));
  GObjectPtr<GMimeDataWrapper> content(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part.get(), content.get());
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(part.get()));

  FormatOptionsPtr format = CrlfFormatOptions();
  GCharPtr text(g_mime_object_to_string(object, format.get()));
  return ComposedMessage{messageId, text.get()};
}

}  // namespace emailaccess
