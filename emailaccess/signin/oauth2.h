// OAuth 2.0 for the mail servers: the access token a run sends instead of a
// password, and the token service that issues it.
//
// AccessTokens is the run's one source of the token, shared by SMTP and
// IMAP. With a provider it takes the sign-in from LVEmailAccess.token
// (token_store.h) and reuses the access token until shortly before it
// expires; then it asks the token service for a new one with the refresh
// token, and saves what comes back (a new refresh token too, when the
// provider rotates it) before the token is used. With token_command it runs
// that program and takes the first line it prints.
//
// Failures are transport errors, so the run ends as for a mail server:
// LoginError (exit 78) when the sign-in is missing, refused for good or
// refused by a server after one renewal; a temporary TransportError (75)
// when the token service is out of reach or overloaded, so queued mail and
// replies on the server wait for the next run. No message ever holds a
// token or the client secret.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/signin/token_answer.h"
#include "emailaccess/signin/token_store.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace emailaccess {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// The token service of the settings, with the client's credentials.
class TokenService {
 public:
  TokenService(const OAuth2Settings& settings, const NetworkSettings& network);

  // POSTs `fields` with client_id (and client_secret) to `url` and reads
  // the JSON answer, which may carry an "error". Throws a temporary
  // TransportError when the service is out of reach or answers 5xx, and a
  // lasting one for an answer that is not JSON.
  TokenAnswer Post(const std::string& url, FormFields fields) const;

  const OAuth2Settings& settings() const { return m_settings; }

 private:
  OAuth2Settings m_settings;
  NetworkSettings m_network;
};

// Seconds since 1970, now.
std::int64_t UnixNow();

// The sign-in as saved after a successful grant (by --authorize or a
// refresh); `previous` supplies the refresh token the answer does not
// replace. Throws TransportError when the file cannot be written.
StoredTokens SaveGrant(const std::string& path, const OAuth2Settings& settings, const TokenAnswer& answer,
                       const StoredTokens& previous);

class AccessTokens {
 public:
  AccessTokens(const Config& config, EventLog& log);

  // Makes sure a usable token is at hand. Throws as described above.
  void Ensure();
  // The token for the servers; empty until Ensure succeeded.
  const std::string& Current() const { return m_current; }
  // A server refused the current token: gets a new one and returns true,
  // once per run; false when that was done already.
  bool Renew();

  // For --check: provider, account, scopes and validity; never a token.
  std::string Describe() const;

 private:
  void Refresh(const std::string& why);
  void RunTokenCommand();

  OAuth2Settings m_settings;
  TokenService m_service;
  EventLog& m_log;
  std::string m_path;
  std::string m_account;
  StoredTokens m_stored;
  bool m_loaded = false;
  bool m_refreshedThisRun = false;
  bool m_renewed = false;
  std::string m_current;
};

}  // namespace emailaccess
