#include "emailaccess/message/body_text.h"

#include "emailaccess/message/html_text.h"
#include "emailaccess/message/text_encoding.h"
#include "util/text_files.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace emailaccess {
namespace {

std::string ContentParameter(GMimePart* part, const char* name) {
  const char* value = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), name);
  return value ? value : "";
}

// A content parameter as it compares: blanks at either end and letter case
// do not count.
std::string LowerParameter(GMimePart* part, const char* name) {
  return AsciiLower(TrimBlanks(ContentParameter(part, name)));
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

std::string DecodedContent(GMimePart* part) {
  std::string storage;
  return std::string(DecodedContent(part, storage));
}

std::string PartText(GMimePart* part) {
  std::string storage;
  return CharsetToUtf8(DecodedContent(part, storage), ContentParameter(part, "charset"));
}

std::string BestPlainText(GMimeObject* top) {
  BodyParts parts;
  ForEachLeaf(top, 64, [&](GMimeObject* leaf) { CollectBodyPart(leaf, parts); });
  if (parts.plain) {
    std::string text = PartText(parts.plain);
    if (LowerParameter(parts.plain, "format") == "flowed") {
      text = UnflowText(CrlfToLf(text), LowerParameter(parts.plain, "delsp") == "yes");
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

}  // namespace emailaccess
