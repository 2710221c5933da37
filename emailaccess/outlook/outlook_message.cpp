#include "emailaccess/outlook/outlook_message.h"

#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/message_text.h"
#include "emailaccess/message/text_encoding.h"
#include "util/dates.h"

namespace emailaccess {
namespace {

GDateTimePtr LocalDateTime(double date) {
  CalendarFields fields;
  if (!FieldsFromDate(date, fields)) return nullptr;
  return GDateTimePtr(g_date_time_new_local(fields.year, fields.month, fields.day, fields.hour, fields.minute,
                                            fields.second));
}

// One body part of `text` (UTF-8) as `subtype`, in base64 so that no line of
// the text can be taken for a header or a boundary.
GObjectPtr<GMimePart> TextPart(const char* subtype, const std::string& text) {
  GObjectPtr<GMimePart> part(g_mime_part_new_with_type("text", subtype));
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.get()), "charset", "utf-8");
  const std::string valid = Utf8OrWindows1252(text);
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(valid.data(), valid.size()));
  GObjectPtr<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part.get(), content.get());
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
  return part;
}

}  // namespace

bool LocalDateToUnixSeconds(double date, std::int64_t& seconds) {
  const GDateTimePtr when = LocalDateTime(date);
  if (!when) return false;
  seconds = g_date_time_to_unix(when.get());
  return true;
}

std::string OutlookMailAsMessage(const OutlookMail& mail) {
  EnsureGMime();
  GObjectPtr<GMimeMessage> message(g_mime_message_new(TRUE));
  GMimeObject* object = GMIME_OBJECT(message.get());
  const std::string sender = SingleLine(Utf8OrWindows1252(mail.senderAddress));
  if (!sender.empty()) {
    InternetAddress* address = internet_address_mailbox_new(nullptr, sender.c_str());
    internet_address_list_add(g_mime_message_get_from(message.get()), address);
    g_object_unref(address);
  }
  g_mime_message_set_subject(message.get(), SingleLine(Utf8OrWindows1252(mail.subject)).c_str(), "utf-8");
  if (const GDateTimePtr when = LocalDateTime(mail.received)) g_mime_message_set_date(message.get(), when.get());
  if (const std::string robot = AutomaticMessageClass(mail.messageClass); !robot.empty()) {
    g_mime_object_set_header(object, "Auto-Submitted", ("auto-generated; message-class=" + robot).c_str(), nullptr);
  }
  const bool html = !mail.htmlBody.empty();
  GObjectPtr<GMimePart> part = TextPart(html ? "html" : "plain", html ? mail.htmlBody : mail.body);
  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(part.get()));
  FormatOptionsPtr format = CrlfFormatOptions();
  GCharPtr text(g_mime_object_to_string(object, format.get()));
  return text ? text.get() : std::string();
}

std::string OutlookRecipientText(const std::string& name, const std::string& address) {
  std::string clean;
  for (char c : name) {
    const bool separator = c == ';' || c == ',' || c == '"' || c == '<' || c == '>' || c == '\r' || c == '\n' || c == '\t';
    const char put = separator ? ' ' : c;
    if (put == ' ' && (clean.empty() || clean.back() == ' ')) continue;
    clean.push_back(put);
  }
  while (!clean.empty() && clean.back() == ' ') clean.pop_back();
  return clean.empty() ? address : clean + " <" + address + ">";
}

}  // namespace emailaccess
