#include "emailaccess/message/message_text.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/html_text.h"
#include "emailaccess/message/text_encoding.h"
#include "util/text_files.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <optional>
#include <vector>

namespace emailaccess {
namespace {

std::string LowerTrimmed(const char* text) {
  std::string value = text ? text : "";
  value.erase(0, value.find_first_not_of(" \t\r\n"));
  value.erase(value.find_last_not_of(" \t\r\n") + 1);
  return AsciiLower(value);
}

// Addresses and field names compare without regard to ASCII case.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// The first mailbox of an address list, looking inside groups too.
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

std::string SenderAddress(GMimeMessage* message) {
  return Utf8OrWindows1252(FirstAddress(g_mime_message_get_from(message)));
}

// True when the list is exactly one mailbox with a plain address.
bool IsOnePlainAddress(InternetAddressList* list) {
  if (!list || internet_address_list_length(list) != 1) return false;
  InternetAddress* address = internet_address_list_get_address(list, 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return false;
  const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  return addr && IsPlainAddress(addr);
}

// Calls `use` with the raw value of every top-level field named `name`, in
// order, for a message parsed as a bare part, whose top-level fields all
// stay in its own header list; stops when `use` returns false.
template <typename Use>
void ForEachField(GMimeObject* object, const char* name, Use use) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);
  for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
    GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
    if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) == 0 && !use(header)) return;
  }
}

// As SenderAddress, for a message parsed as a bare part: GMimeMessage joins
// the addresses of every field of a kind, in order. None when a field it
// reads does not parse whole, since GMimeMessage keeps the addresses before
// the fault, which GMime's public parsing does not give.
std::optional<std::string> SenderAddressOfFields(GMimeObject* object) {
  std::optional<std::string> address = std::string();
  ForEachField(object, "From", [&](GMimeHeader* header) {
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

// What the From field says of who wrote the message, and the fields that
// tie it to what it answers and tell what the receiving servers found.
void ReadOriginFields(GMimeObject* object, IncomingMessage& result) {
  int froms = 0;
  ForEachField(object, "From", [&](GMimeHeader* header) {
    ++froms;
    const char* raw = g_mime_header_get_raw_value(header);
    GCharPtr unfolded(g_mime_utils_header_unfold(raw ? raw : ""));
    result.fromText = Utf8OrWindows1252(unfolded.get());
    result.fromText.erase(0, result.fromText.find_first_not_of(" \t"));
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(IncomingParserOptions(), raw ? raw : ""));
    result.senderIsOneAddress = IsOnePlainAddress(list.get());
    return true;
  });
  if (froms != 1) result.senderIsOneAddress = false;
  for (const char* name : {"In-Reply-To", "References"}) {
    ForEachField(object, name, [&](GMimeHeader* header) {
      const char* raw = g_mime_header_get_raw_value(header);
      GMimeReferences* ids = g_mime_references_parse(IncomingParserOptions(), raw ? raw : "");
      for (int i = 0; ids && i < g_mime_references_length(ids); ++i) {
        result.answeredIds.push_back(g_mime_references_get_message_id(ids, i));
      }
      if (ids) g_mime_references_free(ids);
      return true;
    });
  }
  ForEachField(object, "Authentication-Results", [&](GMimeHeader* header) {
    const char* raw = g_mime_header_get_raw_value(header);
    result.authenticationResults.push_back(raw ? raw : "");
    return true;
  });
}

// As g_mime_message_get_date, for a message parsed as a bare part: the last
// Date field with a value, decoded (or no date when that one is broken).
GDateTimePtr DateOfFields(GMimeObject* object) {
  GDateTimePtr date;
  ForEachField(object, "Date", [&](GMimeHeader* header) {
    if (const char* value = g_mime_header_get_value(header)) date.reset(g_mime_utils_header_decode_date(value));
    return true;
  });
  return date;
}

// Why the message was sent by a program rather than typed by a person, or
// the empty text. Such mail (out-of-office notes, bounces, list traffic, our
// own messages coming back) must never be taken for a reply. `object` holds
// the top-level fields, `top` is the top of the MIME tree.
std::string AutomaticReason(GMimeObject* object, GMimeObject* top, const std::string& sender,
                            std::string_view ownAddress) {
  const char* autoSubmitted = g_mime_object_get_header(object, "Auto-Submitted");
  if (autoSubmitted) {
    std::string value = LowerTrimmed(autoSubmitted);
    value = value.substr(0, value.find_first_of(" ;("));
    if (value != "no") return "Auto-Submitted: " + LowerTrimmed(autoSubmitted);
  }
  for (const char* header : {"X-Autoreply", "X-Autorespond"}) {
    if (g_mime_object_get_header(object, header)) return std::string(header) + " header";
  }
  const std::string precedence = LowerTrimmed(g_mime_object_get_header(object, "Precedence"));
  if (precedence == "bulk" || precedence == "junk" || precedence == "list" || precedence == "auto_reply") {
    return "Precedence: " + precedence;
  }
  if (top && g_mime_content_type_is_type(g_mime_object_get_content_type(top), "multipart", "report")) {
    return "delivery report (multipart/report)";
  }
  const char* returnPath = g_mime_object_get_header(object, "Return-Path");
  if (returnPath && LowerTrimmed(returnPath) == "<>") return "empty return path (bounce)";
  const std::string local = LowerTrimmed(sender.substr(0, sender.find('@')).c_str());
  if (local == "mailer-daemon" || local == "postmaster") return "sender " + sender;
  if (!sender.empty() && SameIgnoringCase(sender, ownAddress)) return "sent by this program (" + sender + ")";
  return std::string();
}

bool IsAttachment(GMimePart* part) {
  if (g_mime_part_is_attachment(part)) return true;
  // A part with a file name and no disposition is a file, not the text.
  return g_mime_object_get_disposition(GMIME_OBJECT(part)) == nullptr && g_mime_part_get_filename(part) != nullptr;
}

struct BodyParts {
  GMimePart* plain = nullptr;
  GMimePart* html = nullptr;
};

// A leaf of the tree, taken in document order; attached messages and attachments are
// not the body. (g_mime_message_get_body would give the alternative's
// container, not a text part.)
void CollectBodyPart(GMimeObject* object, BodyParts& found) {
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  if (IsAttachment(part)) return;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (!found.plain && g_mime_content_type_is_type(type, "text", "plain")) found.plain = part;
  if (!found.html && g_mime_content_type_is_type(type, "text", "html")) found.html = part;
}

}  // namespace

std::string_view DecodedContent(GMimePart* part, std::string& storage) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  if (stream && GMIME_IS_STREAM_MEM(stream) && GMIME_STREAM_MEM(stream)->buffer) {
    // A part's stream is a window on the message's bytes.
    const GByteArray* bytes = GMIME_STREAM_MEM(stream)->buffer;
    const gint64 end = stream->bound_end < 0 ? gint64{bytes->len} : std::min<gint64>(stream->bound_end, bytes->len);
    const gint64 start = std::clamp<gint64>(stream->bound_start, 0, end);
    const std::string_view raw(reinterpret_cast<const char*>(bytes->data) + start, static_cast<size_t>(end - start));
    switch (encoding) {
      case GMIME_CONTENT_ENCODING_DEFAULT:
      case GMIME_CONTENT_ENCODING_7BIT:
      case GMIME_CONTENT_ENCODING_8BIT:
      case GMIME_CONTENT_ENCODING_BINARY:
        return raw;
      case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
      case GMIME_CONTENT_ENCODING_BASE64: {
        GMimeEncoding state;
        g_mime_encoding_init_decode(&state, encoding);
        storage.resize(g_mime_encoding_outlen(&state, raw.size()));
        storage.resize(g_mime_encoding_step(&state, raw.data(), raw.size(), storage.data()));
        return storage;
      }
      default:
        break;
    }
  }
  GObjectPtr<GMimeStream> sink(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, sink.get());
  GByteArray* written = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
  storage.assign(reinterpret_cast<const char*>(written->data), written->len);
  return storage;
}

namespace {

std::string ContentParameter(GMimePart* part, const char* name) {
  const char* value = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), name);
  return value ? value : "";
}

}  // namespace

std::string DecodedContent(GMimePart* part) {
  std::string storage;
  return std::string(DecodedContent(part, storage));
}

std::string PartText(GMimePart* part) {
  std::string storage;
  return CharsetToUtf8(DecodedContent(part, storage), ContentParameter(part, "charset"));
}

namespace {

// The charset an HTML document declares in its own <meta>, for parts whose
// header declares none.
std::string MetaCharset(std::string_view html) {
  const std::string head = AsciiLower(html.substr(0, 4096));
  size_t at = head.find("charset=");
  if (at == std::string::npos) return std::string();
  at += 8;
  while (at < head.size() && (head[at] == '"' || head[at] == '\'' || head[at] == ' ')) ++at;
  size_t end = at;
  while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                               head[end] == '_' || head[end] == ':' || head[end] == '.')) {
    ++end;
  }
  return head.substr(at, end - at);
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
std::string DecodeHeaderText(const char* raw) {
  std::string text;
  for (const char* p = raw; *p; ++p) {
    if (*p != '\r' && *p != '\n') text.push_back(*p);  // unfolded
  }
  const size_t first = text.find_first_not_of(" \t");
  text.erase(0, first == std::string::npos ? text.size() : first);

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
  decoded.erase(decoded.find_last_not_of(" \t") + 1);
  return decoded;
}

}  // namespace

namespace {

// The Subject field as written, decoded; nothing when there is none.
std::optional<std::string> SubjectOfFields(GMimeObject* object) {
  GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), "Subject");
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  if (!raw) return std::nullopt;
  return DecodeHeaderText(raw);
}

}  // namespace

std::string SubjectOf(GMimeMessage* message) {
  if (std::optional<std::string> subject = SubjectOfFields(GMIME_OBJECT(message))) return std::move(*subject);
  const char* subject = g_mime_message_get_subject(message);
  return subject ? subject : "";
}

namespace {

// The readable text of an HTML part, LF line breaks.
std::string HtmlPartText(GMimePart* part) {
  std::string storage;
  const std::string_view raw = DecodedContent(part, storage);
  std::string charset = ContentParameter(part, "charset");
  if (charset.empty()) charset = MetaCharset(raw);
  return HtmlToText(CharsetToUtf8(raw, charset));
}

// Mail programs wrap plain text at 72 to 80 columns; a text with no line
// that, with the first word of the next line, would pass this width has
// not been wrapped by one, and its HTML is not read at all.
constexpr size_t kNarrowestWrap = 64;

size_t Columns(std::string_view text) {
  // Characters, not bytes: UTF-8 continuation bytes take no column.
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Whether the LF text may be the wrapped copy of an HTML alternative: a
// break between two lines of the same quote depth that a mail program
// wrapping at kNarrowestWrap or wider could have made.
bool MayBeWrapped(std::string_view text) {
  size_t before = std::string_view::npos;  // columns of the line before, when it has words
  int beforeDepth = 0;
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t at = 0;
    int depth = 0;
    while (at < line.size() && (line[at] == '>' || line[at] == ' ')) depth += line[at++] == '>';
    const std::string_view content = line.substr(at);
    const size_t word = content.find_first_of(" \t\r");
    if (content.empty()) {
      before = std::string_view::npos;
      continue;
    }
    if (before != std::string_view::npos && depth == beforeDepth &&
        before + 1 + Columns(content.substr(0, word)) > kNarrowestWrap) {
      return true;
    }
    before = Columns(line);
    beforeDepth = depth;
  }
  return false;
}

std::string BestPlainText(GMimeObject* top) {
  BodyParts parts;
  ForEachLeaf(top, 64, [&](GMimeObject* leaf) { CollectBodyPart(leaf, parts); });
  if (parts.plain) {
    std::string text = PartText(parts.plain);
    if (LowerTrimmed(ContentParameter(parts.plain, "format").c_str()) == "flowed") {
      text = UnflowText(CrlfToLf(text), LowerTrimmed(ContentParameter(parts.plain, "delsp").c_str()) == "yes");
    } else if (parts.html) {
      // A typed line the mail program wrapped would reach a stored answer
      // with a line break nobody typed.
      std::string lines = CrlfToLf(text);
      if (MayBeWrapped(lines)) text = RejoinWrappedLines(lines, HtmlPartText(parts.html));
    }
    return CanonicalCrlf(text);
  }
  if (parts.html) return CanonicalCrlf(HtmlPartText(parts.html));
  return std::string();
}

// One parser and one input stream for each thread, reused from message to
// message: setting them up cost more than parsing a short reply. The stream
// reads the caller's bytes where they are, through a byte array it does not
// own that points at them (GMime only reads its input), so a message is not
// copied before GMime reads it; the parts' contents are views of the same
// stream. The message must be gone before the next one is parsed: Parse
// hands it out owned by a MessageInPlace.
class IncomingParser {
 public:
  IncomingParser() : m_stream(g_mime_stream_mem_new()), m_parser(g_mime_parser_new()) {
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(m_stream.get()), &m_view);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(m_stream.get()), FALSE);
  }

  // A message, or with `asPart` the same bytes as a bare part: its top-level
  // fields then all stay in the part's own header list, and none of
  // GMimeMessage's work on them (address lists of every kind, identifiers,
  // a second object) is done.
  GMimeObject* Parse(std::string_view raw, bool asPart) {
    m_view.data = reinterpret_cast<guint8*>(const_cast<char*>(raw.data()));
    m_view.len = static_cast<guint>(raw.size());
    // Back to the start of the new bytes, then the parser to the stream.
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(m_stream.get()), &m_view);
    g_mime_parser_init_with_stream(m_parser.get(), m_stream.get());
    if (asPart) return g_mime_parser_construct_part(m_parser.get(), IncomingParserOptions());
    return GMIME_OBJECT(g_mime_parser_construct_message(m_parser.get(), IncomingParserOptions()));
  }

  // Forgets the caller's bytes once their message is gone.
  void Release() {
    m_view.data = nullptr;
    m_view.len = 0;
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(m_stream.get()), &m_view);
  }

 private:
  GByteArray m_view{};
  GObjectPtr<GMimeStream> m_stream;
  GObjectPtr<GMimeParser> m_parser;
};

// The message of one Parse, dropped before its bytes are let go.
class MessageInPlace {
 public:
  MessageInPlace(IncomingParser& parser, std::string_view raw, bool asPart)
      : m_parser(parser), m_message(parser.Parse(raw, asPart)) {}
  ~MessageInPlace() {
    m_message.reset();
    m_parser.Release();
  }
  MessageInPlace(const MessageInPlace&) = delete;
  MessageInPlace& operator=(const MessageInPlace&) = delete;
  GMimeObject* get() const { return m_message.get(); }

 private:
  IncomingParser& m_parser;
  GObjectPtr<GMimeObject> m_message;
};

}  // namespace

std::string FormatLocalDate(std::int64_t unixSeconds) {
  // Looking the local time zone up again for every reply cost more than
  // the rest of its date; a run does not outlive a change of zone.
  static GTimeZone* const local = g_time_zone_new_local();
  GDateTimePtr utc(g_date_time_new_from_unix_utc(static_cast<gint64>(unixSeconds)));
  if (!utc) return std::string();
  GDateTimePtr when(g_date_time_to_timezone(utc.get(), local));
  if (!when) return std::string();
  // What g_date_time_format makes of "%Y-%m-%d %H:%M:%S", without its
  // locale machinery: the year unpadded, the rest two digits.
  char text[48];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", g_date_time_get_year(when.get()),
                g_date_time_get_month(when.get()), g_date_time_get_day_of_month(when.get()),
                g_date_time_get_hour(when.get()), g_date_time_get_minute(when.get()),
                g_date_time_get_second(when.get()));
  return text;
}

namespace {

// The header fields that the reading below, or GMime for it, looks at.
bool ReadHere(std::string_view name) {
  static constexpr std::string_view kRead[] = {"From",           "Sender",      "Reply-To",      "Subject",
                                               "Date",           "Auto-Submitted", "X-Autoreply", "X-Autorespond",
                                               "Precedence",     "Return-Path", "In-Reply-To", "References",
                                               "Authentication-Results"};
  if (name.size() >= 8 && SameIgnoringCase(name.substr(0, 8), "Content-")) return true;
  return std::any_of(std::begin(kRead), std::end(kRead),
                     [name](std::string_view read) { return SameIgnoringCase(name, read); });
}

}  // namespace

// Leaving fields out costs a copy of the body; a field GMime is spared saves
// about what copying this many bytes costs.
constexpr size_t kBodyBytesPerFieldLeftOut = 8192;

std::string_view WithoutUnreadHeaders(std::string_view raw, std::string& storage, bool* wellFormed) {
  if (wellFormed) *wellFormed = false;
  storage.clear();
  size_t dropped = 0;
  bool keep = false;  // the field the current line belongs to
  for (size_t pos = 0; pos < raw.size();) {
    const size_t end = raw.find('\n', pos);
    if (end == std::string_view::npos) return raw;  // no blank line ends the header block
    const std::string_view line = raw.substr(pos, end + 1 - pos);
    if (line == "\n" || line == "\r\n") {
      if (wellFormed) *wellFormed = pos > 0;
      if (dropped == 0 || raw.size() - pos > dropped * kBodyBytesPerFieldLeftOut) return raw;
      storage.append(raw.substr(pos));  // the blank line and the body
      return storage;
    }
    if (line.find('\0') != std::string_view::npos) return raw;
    if (line[0] == ' ' || line[0] == '\t') {
      if (pos == 0) return raw;  // folded onto no field
    } else {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) return raw;
      const std::string_view name = line.substr(0, colon);
      if (std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F;
          })) {
        return raw;
      }
      keep = ReadHere(name);
      dropped += keep ? 0 : 1;
    }
    if (keep) storage.append(line);
    pos = end + 1;
  }
  return raw;
}

std::string UnflowText(std::string_view text, bool deleteSpace) {
  struct Line {
    int depth = 0;
    std::string content;
    bool flowed = false;
  };
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    Line line;
    while (static_cast<size_t>(line.depth) < raw.size() && raw[line.depth] == '>') ++line.depth;
    raw.remove_prefix(line.depth);
    if (!raw.empty() && raw[0] == ' ') raw.remove_prefix(1);  // space-stuffing
    line.content = std::string(raw);
    line.flowed = !line.content.empty() && line.content.back() == ' ' && line.content != "-- ";
    if (line.flowed && deleteSpace) line.content.pop_back();
    lines.push_back(std::move(line));
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int depth = lines[i].depth;
    std::string joined = lines[i].content;
    while (lines[i].flowed && i + 1 < lines.size() && lines[i + 1].depth == depth && lines[i + 1].content != "-- ") {
      joined += lines[++i].content;
    }
    if (depth > 0) out += std::string(static_cast<size_t>(depth), '>') + (joined.empty() ? "" : " ");
    out += joined;
    if (i + 1 < lines.size()) out += '\n';
  }
  return out;
}

namespace {

// Blanks between words: spaces, tabs, CR and the non-breaking space.
size_t BlankLength(std::string_view text, size_t at) {
  const char c = text[at];
  if (c == ' ' || c == '\t' || c == '\r') return 1;
  return text.compare(at, 2, "\xC2\xA0") == 0 ? 2 : 0;
}

struct QuotedLine {
  std::string_view whole;
  std::string_view content;  // after the quote marks and the blanks among them
  int depth = 0;             // quote marks
};

std::vector<QuotedLine> QuotedLines(std::string_view text) {
  std::vector<QuotedLine> lines;
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    QuotedLine line;
    line.whole = text.substr(pos, end - pos);
    size_t at = 0;
    while (at < line.whole.size() && (line.whole[at] == '>' || line.whole[at] == ' ')) {
      line.depth += line.whole[at] == '>';
      ++at;
    }
    line.content = line.whole.substr(at);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

struct Word {
  std::string_view text;
  size_t line = 0;  // index of its line
};

std::vector<Word> WordsOf(const std::vector<QuotedLine>& lines) {
  std::vector<Word> words;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view content = lines[i].content;
    size_t at = 0;
    while (at < content.size()) {
      size_t blank = BlankLength(content, at);
      if (blank > 0) {
        at += blank;
        continue;
      }
      const size_t start = at;
      while (at < content.size() && BlankLength(content, at) == 0) ++at;
      words.push_back({content.substr(start, at - start), i});
    }
  }
  return words;
}


}  // namespace

std::string RejoinWrappedLines(std::string_view text, std::string_view htmlText) {
  const std::vector<QuotedLine> lines = QuotedLines(text);
  const std::vector<QuotedLine> htmlLines = QuotedLines(htmlText);
  const std::vector<Word> words = WordsOf(lines);
  const std::vector<Word> htmlWords = WordsOf(htmlLines);
  if (words.size() != htmlWords.size()) return std::string(text);
  std::vector<bool> joinsPrevious(lines.size(), false);
  bool wrapped = false;
  for (size_t w = 0; w < words.size(); ++w) {
    if (words[w].text != htmlWords[w].text) return std::string(text);
    if (w == 0) continue;
    const size_t breaks = words[w].line - words[w - 1].line;
    const size_t htmlBreaks = htmlWords[w].line - htmlWords[w - 1].line;
    if (breaks == 0 && htmlBreaks == 0) continue;
    if (breaks > 0 && htmlBreaks > 0) continue;
    // Only the text breaks here: a wrap, when it is one line to the next at
    // the same depth; otherwise the two differ in more than wrapping.
    if (breaks != 1 || lines[words[w].line].depth != lines[words[w - 1].line].depth) return std::string(text);
    joinsPrevious[words[w].line] = true;
    wrapped = true;
  }
  if (!wrapped) return std::string(text);

  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (joinsPrevious[i]) {
      // The blank the wrap took stands between the two again.
      while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
      out += ' ';
      std::string_view content = lines[i].content;
      while (!content.empty() && content.front() == '\t') content.remove_prefix(1);
      out += content;
      continue;
    }
    if (i > 0) out += '\n';
    out += lines[i].whole;
  }
  return out;
}

namespace {

// The rest of the reading, once the sender is known: `message` is the
// parsed message, or null when `object` is a message parsed as a bare part.
IncomingMessage ReadParsed(IncomingMessage result, GMimeObject* object, GMimeMessage* message,
                           std::string_view ownAddress) {
  result.parsed = true;
  const bool asPart = message == nullptr;
  const bool cutShort = !result.senderIsOneAddress;  // set before: a NUL byte in the header block
  ReadOriginFields(object, result);
  if (cutShort) result.senderIsOneAddress = false;
  GMimeObject* top = asPart ? object : g_mime_message_get_mime_part(message);
  result.subject = Utf8OrWindows1252(asPart ? SubjectOfFields(object).value_or("") : SubjectOf(message));
  // The reason quotes header text, which may be raw 8-bit bytes; it goes
  // into the log, which is UTF-8.
  result.automaticReason = Utf8OrWindows1252(AutomaticReason(object, top, result.senderAddress, ownAddress));
  GDateTimePtr fieldDate = asPart ? DateOfFields(object) : nullptr;
  if (GDateTime* date = asPart ? fieldDate.get() : g_mime_message_get_date(message)) {
    result.localDate = FormatLocalDate(g_date_time_to_unix(date));
    result.hasDate = !result.localDate.empty();
  }
  // A NUL byte is no text (mail may not carry one), and LvMAPI's statements
  // would be cut short by it: the reply keeps a visible mark instead.
  result.body = WithoutNulBytes(BestPlainText(top));
  return result;
}

}  // namespace

IncomingMessage ReadIncomingMessage(std::string_view raw, std::string_view ownAddress, HeaderFields fields) {
  IncomingMessage result;
  EnsureGMime();
  if (raw.size() > static_cast<size_t>(INT_MAX)) return result;
  // GMime hands header values on as C strings: a NUL byte would cut a From
  // short ("david.k"), and the rest would go unseen. Such a header block is
  // no mail; it is read with the NUL bytes made visible, and its sender is
  // not one plain address.
  std::string visible;
  const size_t headerEnd = std::min(raw.find("\n\n"), raw.find("\n\r\n"));
  const bool nulInHeader = raw.substr(0, headerEnd).find('\0') != std::string_view::npos;
  if (nulInHeader) {
    visible = WithoutNulBytes(std::string(raw.substr(0, headerEnd))) +
              std::string(raw.substr(std::min(headerEnd, raw.size())));
    raw = visible;
  }
  result.senderIsOneAddress = !nulInHeader;
  const std::string_view whole = WithinPartLimit(raw, result.partsCut);
  std::string shorter;
  bool wellFormed = false;
  const std::string_view read =
      fields == HeaderFields::Read ? WithoutUnreadHeaders(whole, shorter, &wellFormed) : whole;
  // A plainly well-formed header block reads the same as a bare part; any
  // other is left to GMime's reading of a whole message, and so is one whose
  // sender the part cannot tell.
  static thread_local IncomingParser parser;
  if (fields == HeaderFields::Read && wellFormed) {
    const MessageInPlace parsed(parser, read, true);
    std::optional<std::string> sender = parsed.get() ? SenderAddressOfFields(parsed.get()) : std::nullopt;
    if (sender) {
      result.senderAddress = std::move(*sender);
      return ReadParsed(std::move(result), parsed.get(), nullptr, ownAddress);
    }
  }
  const MessageInPlace parsed(parser, read, false);
  if (!parsed.get()) return result;
  result.senderAddress = SenderAddress(GMIME_MESSAGE(parsed.get()));
  return ReadParsed(std::move(result), parsed.get(), GMIME_MESSAGE(parsed.get()), ownAddress);
}

}  // namespace emailaccess
