// LVEmailAccess.token beside the program: the sign-in that --authorize made
// and every run keeps fresh.
//
// The file holds the refresh token, the current access token with the time
// it expires, the scopes granted, and which client and token service issued
// them (a sign-in made for other settings is not used). It is JSON, written
// readable by its owner only (0600) and replaced atomically, so a run killed
// while saving leaves the old file or the new one, never a broken one.
// Neither token ever leaves this module except to the token service and the
// mail servers; messages name the file, never its content.
#pragma once

#include <cstdint>
#include <string>

namespace emailaccess {

inline constexpr const char kTokenFileName[] = "LVEmailAccess.token";

struct StoredTokens {
  std::string clientId;
  std::string tokenUrl;
  std::string refreshToken;
  std::string accessToken;
  std::int64_t expiresAt = 0;  // seconds since 1970 (UTC); 0: unknown
  std::string scope;
};

enum class TokenFileState { Loaded, Missing, Broken };

// Reads the file; `why` says what is wrong with a broken one.
TokenFileState LoadTokenFile(const std::string& path, StoredTokens& tokens, std::string& why);

// Replaces the file (0600, atomically); false with `why` when it cannot.
bool SaveTokenFile(const std::string& path, const StoredTokens& tokens, std::string& why);

}  // namespace emailaccess
