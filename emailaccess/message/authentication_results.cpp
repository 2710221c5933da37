#include "emailaccess/message/authentication_results.h"

#include "emailaccess/message/text_encoding.h"

#include <algorithm>

namespace emailaccess {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The value with its comments left out and each quoted string reduced to
// its content with ';' and '=' made harmless, so that the rest splits at
// the grammar's own separators. An unclosed comment or quote runs to the end.
std::string WithoutCommentsAndQuotes(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && (depth > 0 || quoted)) {
      if (quoted && i + 1 < value.size()) out.push_back(value[i + 1] == ';' || value[i + 1] == '=' ? '_' : value[i + 1]);
      ++i;
      continue;
    }
    if (depth > 0) {
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      if (depth == 0) out.push_back(' ');
      continue;
    }
    if (quoted) {
      if (c == '"') quoted = false;
      else out.push_back(c == ';' || c == '=' ? '_' : c);
      continue;
    }
    if (c == '(') depth = 1;
    else if (c == '"') quoted = true;
    else out.push_back(c);
  }
  return out;
}

std::string_view FirstWord(std::string_view text) {
  text = Trimmed(text);
  return text.substr(0, std::find_if(text.begin(), text.end(), IsBlank) - text.begin());
}

// "method[/version] = result ..." into method and result; false when the
// segment is no such result.
bool ReadResult(std::string_view segment, std::pair<std::string, std::string>& out) {
  const size_t equals = segment.find('=');
  if (equals == std::string_view::npos) return false;
  std::string_view method = Trimmed(segment.substr(0, equals));
  method = Trimmed(method.substr(0, method.find('/')));
  const std::string_view result = FirstWord(segment.substr(equals + 1));
  if (method.empty() || result.empty() || std::any_of(method.begin(), method.end(), IsBlank)) return false;
  out = {AsciiLower(std::string(method)), AsciiLower(std::string(result))};
  return true;
}

}  // namespace

AuthenticationResult ParseAuthenticationResult(std::string_view value) {
  AuthenticationResult parsed;
  const std::string text = WithoutCommentsAndQuotes(value);
  std::string_view rest = text;
  bool first = true;
  while (true) {
    const size_t semicolon = rest.find(';');
    const std::string_view segment = rest.substr(0, semicolon);
    std::pair<std::string, std::string> result;
    if (ReadResult(segment, result)) {
      parsed.results.push_back(std::move(result));
    } else if (first && !FirstWord(segment).empty()) {
      parsed.hasAuthservId = true;
      parsed.authservId = AsciiLower(std::string(FirstWord(segment)));
    }
    first = false;
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return parsed;
}

ProviderVerdict EvaluateProvider(const std::vector<std::string>& values, std::string_view setting) {
  if (Trimmed(setting).empty()) return ProviderVerdict::NotConfirmed;
  const std::string wanted = AsciiLower(std::string(Trimmed(setting)));
  const bool microsoft = wanted == kMicrosoft365Preset;
  const std::string id = wanted == kGooglePreset ? kGoogleAuthservId : wanted;
  auto own = [&](const AuthenticationResult& field) {
    return microsoft ? !field.hasAuthservId && !field.results.empty()
                     : field.hasAuthservId && field.authservId == id;
  };
  auto says = [](const AuthenticationResult& field, const char* result) {
    return std::any_of(field.results.begin(), field.results.end(),
                       [&](const auto& r) { return r.first == "dmarc" && r.second == result; });
  };
  bool topmost = true, pass = false;
  for (const std::string& value : values) {
    const AuthenticationResult field = ParseAuthenticationResult(value);
    if (!own(field)) continue;
    if (says(field, "fail")) return ProviderVerdict::Fail;
    if (topmost) pass = says(field, "pass");
    topmost = false;
  }
  return pass ? ProviderVerdict::Pass : ProviderVerdict::NotConfirmed;
}

}  // namespace emailaccess
