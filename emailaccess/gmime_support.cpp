#include "emailaccess/gmime_support.h"

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

FormatOptionsPtr CrlfFormatOptions() {
  EnsureGMime();
  FormatOptionsPtr options(g_mime_format_options_new());
  g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
  return options;
}

}  // namespace emailaccess
