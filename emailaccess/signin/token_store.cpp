#include "emailaccess/signin/token_store.h"

#include "emailaccess/signin/token_answer.h"
#include "platform/durable_file.h"
#include "platform/files.h"

#include <nlohmann/json.hpp>

namespace emailaccess {

TokenFileState LoadTokenFile(const std::string& path, StoredTokens& tokens, std::string& why) {
  tokens = StoredTokens();
  if (!platform::FileExists(path)) return TokenFileState::Missing;
  std::string text;
  if (!platform::ReadWholeFile(path, text, &why)) return TokenFileState::Broken;
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  auto text_of = [&](const char* key) {
    auto it = json.find(key);
    return it != json.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  if (json.is_object()) {
    tokens.clientId = text_of("client_id");
    tokens.tokenUrl = text_of("token_url");
    tokens.refreshToken = text_of("refresh_token");
    tokens.accessToken = text_of("access_token");
    tokens.scope = text_of("scope");
    auto expires = json.find("expires_at");
    if (expires != json.end() && expires->is_number_integer()) tokens.expiresAt = expires->get<std::int64_t>();
  }
  // A token with a line break would break the protocol line it is put in.
  if (!IsPrintableAscii(tokens.refreshToken, false) ||
      (!tokens.accessToken.empty() && !IsPrintableAscii(tokens.accessToken, false))) {
    why = path + " is not a sign-in written by LVEmailAccess --authorize";
    tokens = StoredTokens();
    return TokenFileState::Broken;
  }
  return TokenFileState::Loaded;
}

bool SaveTokenFile(const std::string& path, const StoredTokens& tokens, std::string& why) {
  const nlohmann::json json = {{"client_id", tokens.clientId},         {"token_url", tokens.tokenUrl},
                               {"refresh_token", tokens.refreshToken}, {"access_token", tokens.accessToken},
                               {"expires_at", tokens.expiresAt},       {"scope", tokens.scope}};
  return platform::ReplaceFileAtomically(path, json.dump(1) + "\n", &why, true);
}

}  // namespace emailaccess
