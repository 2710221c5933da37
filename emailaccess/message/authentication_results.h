// What the church's own mail provider says of a reply's sender: the DMARC
// result in the Authentication-Results field (RFC 8601) that its server
// added on receipt.
//
// Anyone can write such a field into a message; only the one the receiving
// server added means anything, and it names that server first (its
// authserv-id). So only fields that name the church's own server are read,
// and of those the topmost decides a pass: the server puts its own above
// everything the message brought along. A dmarc=fail in any field naming
// that server counts (the sender could only harm itself by writing one).
// Microsoft 365 writes its field without an authserv-id, starting with the
// first result; its preset reads exactly such fields, and again only the
// topmost can confirm a sender.
//
// Pure functions of their input, no exceptions, bounded by the input's
// length; the field values come from untrusted mail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

// The presets of the setting naming the church's provider.
inline constexpr const char kMicrosoft365Preset[] = "microsoft365";
inline constexpr const char kGooglePreset[] = "google";
// What Google's receiving servers name themselves.
inline constexpr const char kGoogleAuthservId[] = "mx.google.com";

enum class ProviderVerdict {
  NotConfirmed,  // no field of the own server, or none with a DMARC result either way
  Pass,          // the own server's topmost field says dmarc=pass
  Fail,          // a field of the own server says dmarc=fail
};

// One Authentication-Results field, as far as it is read here.
struct AuthenticationResult {
  bool hasAuthservId = false;  // false for Microsoft's form, which begins with a result
  std::string authservId;      // lower-cased
  std::vector<std::pair<std::string, std::string>> results;  // method and result, lower-cased, in order
};

// Reads one field's value (unfolded or not; comments and quoted strings
// are skipped as the grammar says). Segments that are not "method=result"
// are passed over.
AuthenticationResult ParseAuthenticationResult(std::string_view value);

// `values` are the message's Authentication-Results fields, topmost first.
// `setting` is the configured provider: a preset's name or an authserv-id;
// empty: none, and nothing is confirmed.
ProviderVerdict EvaluateProvider(const std::vector<std::string>& values, std::string_view setting);

}  // namespace emailaccess
