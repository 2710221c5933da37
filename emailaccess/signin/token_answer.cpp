#include "emailaccess/signin/token_answer.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace emailaccess {
namespace {

using Json = nlohmann::json;

std::string Text(const Json& object, const char* key, bool blanks) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return {};
  const std::string& value = it->get_ref<const std::string&>();
  return IsPrintableAscii(value, blanks) ? value : std::string();
}

// Seconds as a number or, as some providers send them, as a text of digits.
std::optional<std::int64_t> Seconds(const Json& object, const char* key, std::int64_t low, std::int64_t high) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  double value = NAN;
  if (it->is_number()) {
    value = it->get<double>();
  } else if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    value = std::stod(text);
  }
  if (!std::isfinite(value) || value < static_cast<double>(low) || value > static_cast<double>(high)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(value);
}

}  // namespace

bool IsPrintableAscii(std::string_view text, bool blanks) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e || (c == ' ' && !blanks)) return false;
  }
  return true;
}

bool ParseTokenAnswer(std::string_view body, TokenAnswer& answer) {
  answer = TokenAnswer();
  const Json json = Json::parse(body.begin(), body.end(), nullptr, false);
  if (!json.is_object()) return false;
  answer.accessToken = Text(json, "access_token", false);
  answer.refreshToken = Text(json, "refresh_token", false);
  answer.scope = Text(json, "scope", true);
  answer.expiresIn = Seconds(json, "expires_in", 0, kMaxSeconds);
  answer.error = Text(json, "error", false);
  answer.errorDescription = Text(json, "error_description", true);
  answer.deviceCode = Text(json, "device_code", false);
  answer.userCode = Text(json, "user_code", false);
  // RFC 8628 says verification_uri; some providers say verification_url.
  answer.verificationUri = Text(json, "verification_uri", false);
  if (answer.verificationUri.empty()) answer.verificationUri = Text(json, "verification_url", false);
  answer.interval = Seconds(json, "interval", 1, kMaxInterval);
  return true;
}

}  // namespace emailaccess
