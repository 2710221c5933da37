// What a token service answers, read from its JSON: the token endpoint (an
// access token, a refresh token, or an error such as "invalid_grant" or
// "authorization_pending") and the device endpoint (the code a person types).
//
// The answer comes from the network, so nothing in it is trusted: a text
// that is sent on to a mail server or shown on the terminal must consist of
// printable ASCII (a line break in a token would end the AUTH command early;
// an escape sequence would reach the person's terminal), and numbers of
// seconds are kept only within sensible bounds. A field that breaks these
// rules counts as not given. Parsing never throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace emailaccess {

struct TokenAnswer {
  // Token endpoint.
  std::string accessToken;
  std::string refreshToken;  // empty: the provider keeps the old one
  std::string scope;         // the scopes granted, blank-separated
  std::optional<std::int64_t> expiresIn;  // seconds, 0 to kMaxSeconds
  // Either endpoint's refusal.
  std::string error;             // "invalid_grant", "slow_down" ...
  std::string errorDescription;  // the provider's explanation
  // Device endpoint.
  std::string deviceCode;
  std::string userCode;
  std::string verificationUri;
  std::optional<std::int64_t> interval;  // seconds between polls, 1 to kMaxInterval
};

inline constexpr std::int64_t kMaxSeconds = 10LL * 365 * 24 * 3600;
inline constexpr std::int64_t kMaxInterval = 300;

// Reads a JSON object; false when `body` is not one.
bool ParseTokenAnswer(std::string_view body, TokenAnswer& answer);

// True for a non-empty text of printable ASCII characters (blanks allowed
// only when `blanks`), the only kind of text taken from an answer.
bool IsPrintableAscii(std::string_view text, bool blanks);

}  // namespace emailaccess
