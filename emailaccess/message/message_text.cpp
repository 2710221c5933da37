#include "emailaccess/message/message_text.h"

#include "emailaccess/message/body_text.h"
#include "emailaccess/message/header_fields.h"
#include "emailaccess/message/text_encoding.h"
#include "util/dates.h"
#include "util/text_files.h"

#include <algorithm>
#include <climits>
#include <optional>

namespace emailaccess {
namespace {

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

// The whole reading of a parsed message, its sender known: `fields` holds
// the top-level fields (a message, or the same bytes parsed as a bare
// part), `top` is the top of the MIME tree.
IncomingMessage ReadParsed(IncomingMessage result, std::string sender, GMimeObject* fields, GMimeObject* top,
                           std::string_view ownAddress) {
  result.parsed = true;
  result.senderAddress = std::move(sender);
  OriginFields origin = ReadOriginFields(fields);
  // Set before: a NUL byte in the header block, which may have cut the From short.
  const bool cutShort = !result.senderIsOneAddress;
  result.senderIsOneAddress = origin.senderIsOneAddress && !cutShort;
  result.fromText = std::move(origin.fromText);
  result.answeredIds = std::move(origin.answeredIds);
  result.authenticationResults = std::move(origin.authenticationResults);
  result.subject = Utf8OrWindows1252(SubjectOf(fields));
  // The reason quotes header text, which may be raw 8-bit bytes; it goes
  // into the log, which is UTF-8.
  result.automaticReason = Utf8OrWindows1252(AutomaticReason(fields, top, result.senderAddress, ownAddress));
  if (const GDateTimePtr date = DateOf(fields)) {
    result.localDate = FormatLocalDateTime(g_date_time_to_unix(date.get()));
    result.hasDate = !result.localDate.empty();
  }
  // A NUL byte is no text (mail may not carry one), and LvMAPI's statements
  // would be cut short by it: the reply keeps a visible mark instead.
  result.body = WithoutNulBytes(BestPlainText(top));
  return result;
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
      keep = IsFieldRead(name);
      dropped += keep ? 0 : 1;
    }
    if (keep) storage.append(line);
    pos = end + 1;
  }
  return raw;
}

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
    const MessageInPlace part(parser, read, true);
    if (std::optional<std::string> sender = part.get() ? SenderAddressOfFields(part.get()) : std::nullopt) {
      return ReadParsed(result, std::move(*sender), part.get(), part.get(), ownAddress);
    }
  }
  const MessageInPlace parsed(parser, read, false);
  if (!parsed.get()) return result;
  GMimeMessage* message = GMIME_MESSAGE(parsed.get());
  return ReadParsed(result, SenderAddress(message), parsed.get(), g_mime_message_get_mime_part(message), ownAddress);
}

std::string AutomaticMessageClass(const std::string& messageClass) {
  std::string lower;
  for (char c : messageClass) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  // Delivery, non-delivery and read reports; out-of-office and rule replies.
  if (lower.rfind("report.", 0) == 0 || lower.rfind("ipm.note.rules.", 0) == 0) return SingleLine(lower);
  return {};
}

}  // namespace emailaccess
