#include "emailaccess/message/gmime_support.h"

#include <climits>
#include <mutex>

namespace emailaccess {

void EnsureGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

GMimeParserOptions* IncomingParserOptions() {
  EnsureGMime();
  static GMimeParserOptions* options = [] {
    GMimeParserOptions* o = g_mime_parser_options_new();
    static const char* fallbacks[] = {"utf-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallbacks);
    g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    return o;
  }();
  return options;
}

constexpr size_t kMaxPartLines = 10000;

std::string_view WithinPartLimit(std::string_view raw, bool& cut) {
  size_t seen = 0;
  for (size_t pos = 0; pos < raw.size();) {
    if (raw.compare(pos, 2, "--") == 0 && ++seen > kMaxPartLines) {
      cut = true;
      return raw.substr(0, pos);
    }
    const size_t lineEnd = raw.find('\n', pos);
    if (lineEnd == std::string_view::npos) break;
    pos = lineEnd + 1;
  }
  return raw;
}

GObjectPtr<GMimeMessage> ParseIncomingMessage(std::string_view raw, bool& partsCut) {
  EnsureGMime();
  if (raw.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  const std::string_view read = WithinPartLimit(raw, partsCut);
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(read.data(), read.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  return GObjectPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), IncomingParserOptions()));
}

FormatOptionsPtr CrlfFormatOptions() {
  EnsureGMime();
  FormatOptionsPtr options(g_mime_format_options_new());
  g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
  return options;
}

}  // namespace emailaccess
