#include "emailaccess/message/header_fields.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/message/text_encoding.h"
#include "util/text_files.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace emailaccess {
namespace {

std::string LowerTrimmed(const char* text) { return AsciiLower(TrimBlanks(text ? text : "")); }

// Addresses and field names compare without regard to ASCII case.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// Calls `use` with every top-level field named `name`, in order; stops when
// `use` returns false. A message parsed as a bare part keeps all its
// top-level fields in its own header list, as a GMimeMessage does.
template <typename Use>
void ForEachField(GMimeObject* fields, const char* name, Use use) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(fields);
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
    if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) == 0 && !use(header)) return;
  }
}

// GMime joins adjacent encoded words of one charset before decoding them
// (for mail programs that split a character across two words), but then
// loses everything after a base64 word that ends in padding:
// "=?UTF-8?B?w6Q=?= =?UTF-8?B?w7Y=?=" would come out as "ä". And plain text
// that merely starts like an encoded word ("=?x") keeps it from decoding the
// real words after it. So the header text is handed to GMime in pieces: each
// run of encoded words (cut right after a padded base64 word, which ends on
// a whole byte) and each stretch of plain text on its own, the blanks
// between two encoded words dropped as RFC 2047 wants; the pieces are joined.
std::string DecodeHeaderText(std::string_view unfolded) {
  const size_t first = unfolded.find_first_not_of(" \t");
  const std::string text(first == std::string_view::npos ? std::string_view() : unfolded.substr(first));

  std::string decoded;
  auto decodePiece = [&decoded, &text](size_t from, size_t to) {
    if (to <= from) return;
    GCharPtr part(g_mime_utils_header_decode_text(IncomingParserOptions(), text.substr(from, to - from).c_str()));
    if (part) decoded += part.get();
  };
  size_t pieceStart = 0;                 // the text not decoded yet starts here
  size_t runEnd = std::string::npos;     // the end of the last encoded word
  bool afterCut = false;                 // ... and the text was cut right after it
  for (size_t at = text.find("=?"); at != std::string::npos; at = text.find("=?", at + 2)) {
    // An encoded word: =?charset?B-or-Q?text?= with no blank inside.
    const size_t q1 = text.find('?', at + 2);
    if (q1 == std::string::npos || q1 + 3 >= text.size() || text[q1 + 2] != '?') continue;
    const size_t end = text.find("?=", q1 + 3);
    if (end == std::string::npos) break;
    if (text.find_first_of(" \t", at) < end) continue;
    const size_t wordEnd = end + 2;

    const bool adjacent = runEnd != std::string::npos && text.find_first_not_of(" \t", runEnd) == at;
    if (!adjacent) {
      decodePiece(pieceStart, at);  // the run before and the plain text up to this word
      pieceStart = at;
    } else if (afterCut) {
      pieceStart = at;  // the blanks between two encoded words are not text
    }
    const bool padded = (text[q1 + 1] == 'B' || text[q1 + 1] == 'b') && end > q1 + 3 && text[end - 1] == '=';
    if (padded) {
      decodePiece(pieceStart, wordEnd);
      pieceStart = wordEnd;
    }
    afterCut = padded;
    runEnd = wordEnd;
    at = end;
  }
  decodePiece(pieceStart, text.size());
  // Only blanks: a line break an encoded word carries is the sender's text.
  decoded.erase(decoded.find_last_not_of(" \t") + 1);
  return decoded;
}

}  // namespace

std::string FirstAddress(InternetAddressList* list) {
  if (!list) return std::string();
  for (int i = 0; i < internet_address_list_length(list); ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
      if (addr && *addr) return addr;
    } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
      std::string inner = FirstAddress(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
      if (!inner.empty()) return inner;
    }
  }
  return std::string();
}

// Who wrote the message is the From field alone: Sender and Reply-To say
// who sent it on or where answers go. GMimeMessage joins the addresses of
// every From field, in order: the first mailbox of the first field that
// names one is its first mailbox.
std::optional<std::string> SenderAddressOfFields(GMimeObject* fields) {
  std::optional<std::string> address = std::string();
  ForEachField(fields, "From", [&](GMimeHeader* header) {
    const char* raw = g_mime_header_get_raw_value(header);
    if (!raw) return true;
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(IncomingParserOptions(), raw));
    if (!list) {
      address.reset();
      return false;
    }
    *address = FirstAddress(list.get());
    return address->empty();
  });
  if (!address) return std::nullopt;
  return Utf8OrWindows1252(*address);
}

std::string SenderAddress(GMimeMessage* message) {
  if (std::optional<std::string> address = SenderAddressOfFields(GMIME_OBJECT(message))) return std::move(*address);
  return Utf8OrWindows1252(FirstAddress(g_mime_message_get_from(message)));
}

namespace {

// True when the list is exactly one mailbox with a plain address.
bool IsOnePlainAddress(InternetAddressList* list) {
  if (!list || internet_address_list_length(list) != 1) return false;
  InternetAddress* address = internet_address_list_get_address(list, 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return false;
  const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  return addr && IsPlainAddress(addr);
}

}  // namespace

OriginFields ReadOriginFields(GMimeObject* fields) {
  OriginFields origin;
  int froms = 0;
  ForEachField(fields, "From", [&](GMimeHeader* header) {
    ++froms;
    const char* raw = g_mime_header_get_raw_value(header);
    GCharPtr unfolded(g_mime_utils_header_unfold(raw ? raw : ""));
    origin.fromText = Utf8OrWindows1252(unfolded.get());
    origin.fromText.erase(0, origin.fromText.find_first_not_of(" \t"));
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(IncomingParserOptions(), raw ? raw : ""));
    origin.senderIsOneAddress = IsOnePlainAddress(list.get());
    return true;
  });
  if (froms != 1) origin.senderIsOneAddress = false;
  for (const char* name : {"In-Reply-To", "References"}) {
    ForEachField(fields, name, [&](GMimeHeader* header) {
      const char* raw = g_mime_header_get_raw_value(header);
      GMimeReferences* ids = g_mime_references_parse(IncomingParserOptions(), raw ? raw : "");
      for (int i = 0; ids && i < g_mime_references_length(ids); ++i) {
        origin.answeredIds.push_back(g_mime_references_get_message_id(ids, i));
      }
      if (ids) g_mime_references_free(ids);
      return true;
    });
  }
  ForEachField(fields, "Authentication-Results", [&](GMimeHeader* header) {
    const char* raw = g_mime_header_get_raw_value(header);
    origin.authenticationResults.push_back(raw ? raw : "");
    return true;
  });
  return origin;
}

std::optional<std::string> UnfoldedField(GMimeObject* fields, const char* name) {
  GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(fields), name);
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  if (!raw) return std::nullopt;
  std::string value;
  for (const char* p = raw; *p; ++p) {
    if (*p != '\r' && *p != '\n') value.push_back(*p);
  }
  return value;
}

std::string SubjectOf(GMimeObject* fields) {
  const std::optional<std::string> subject = UnfoldedField(fields, "Subject");
  return subject ? DecodeHeaderText(*subject) : std::string();
}

std::string SubjectOf(GMimeMessage* message) { return SubjectOf(GMIME_OBJECT(message)); }

GDateTimePtr DateOf(GMimeObject* fields) {
  GDateTimePtr date;
  ForEachField(fields, "Date", [&](GMimeHeader* header) {
    if (const char* value = g_mime_header_get_value(header)) date.reset(g_mime_utils_header_decode_date(value));
    return true;
  });
  return date;
}

std::string AutomaticReason(GMimeObject* fields, GMimeObject* top, const std::string& sender,
                            std::string_view ownAddress) {
  const char* autoSubmitted = g_mime_object_get_header(fields, "Auto-Submitted");
  if (autoSubmitted) {
    std::string value = LowerTrimmed(autoSubmitted);
    value = value.substr(0, value.find_first_of(" ;("));
    if (value != "no") return "Auto-Submitted: " + LowerTrimmed(autoSubmitted);
  }
  for (const char* header : {"X-Autoreply", "X-Autorespond"}) {
    if (g_mime_object_get_header(fields, header)) return std::string(header) + " header";
  }
  const std::string precedence = LowerTrimmed(g_mime_object_get_header(fields, "Precedence"));
  if (precedence == "bulk" || precedence == "junk" || precedence == "list" || precedence == "auto_reply") {
    return "Precedence: " + precedence;
  }
  // A relay that passes a report on may wrap it in multipart/mixed of its own.
  const auto isReport = [](GMimeObject* object) {
    return g_mime_content_type_is_type(g_mime_object_get_content_type(object), "multipart", "report");
  };
  if (FindInTree(top, 8, false, isReport)) return "delivery report (multipart/report)";
  const char* returnPath = g_mime_object_get_header(fields, "Return-Path");
  if (returnPath && LowerTrimmed(returnPath) == "<>") return "empty return path (bounce)";
  const std::string local = LowerTrimmed(sender.substr(0, sender.find('@')).c_str());
  if (local == "mailer-daemon" || local == "postmaster") return "sender " + sender;
  if (!sender.empty() && SameIgnoringCase(sender, ownAddress)) return "sent by this program (" + sender + ")";
  return std::string();
}

bool IsFieldRead(std::string_view name) {
  static constexpr std::string_view kRead[] = {"From",           "Sender",      "Reply-To",      "Subject",
                                               "Date",           "Auto-Submitted", "X-Autoreply", "X-Autorespond",
                                               "Precedence",     "Return-Path", "In-Reply-To", "References",
                                               "Authentication-Results"};
  if (name.size() >= 8 && SameIgnoringCase(name.substr(0, 8), "Content-")) return true;
  return std::any_of(std::begin(kRead), std::end(kRead),
                     [name](std::string_view read) { return SameIgnoringCase(name, read); });
}

}  // namespace emailaccess
