#include "emailaccess/signin/oauth2.h"

#include "emailaccess/signin/curl_session.h"
#include "emailaccess/transport.h"
#include "platform/process.h"
#include "util/dates.h"

#include <chrono>
#include <memory>

namespace emailaccess {
namespace {

// An access token is renewed this long before it expires, so that it does
// not run out in the middle of a run.
constexpr std::int64_t kRenewAheadSeconds = 120;

constexpr const char kSignInAgain[] = "sign in again with LVEmailAccess --authorize";

struct CurlFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

size_t Collect(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

std::string FormEncode(CURL* handle, const FormFields& fields) {
  std::string form;
  for (const auto& [name, value] : fields) {
    char* escaped = curl_easy_escape(handle, value.data(), static_cast<int>(value.size()));
    form += (form.empty() ? "" : "&") + name + "=" + (escaped ? escaped : "");
    curl_free(escaped);
  }
  return form;
}

}  // namespace

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TokenService::TokenService(const OAuth2Settings& settings, const NetworkSettings& network)
    : m_settings(settings), m_network(network) {}

TokenAnswer TokenService::Post(const std::string& url, FormFields fields) const {
  EnsureCurl();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) throw TransportError("cannot set up libcurl", false, FailureScope::Connection);
  fields.emplace_back("client_id", m_settings.clientId);
  if (!m_settings.clientSecret.empty()) fields.emplace_back("client_secret", m_settings.clientSecret);
  const std::string form = FormEncode(handle.get(), fields);
  std::string body;
  char error[CURL_ERROR_SIZE] = {};
  CURL* h = handle.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, form.c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_network.timeoutSeconds));
  curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(m_network.timeoutSeconds));
  const CURLcode code = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  const std::string service = "the token service " + url;
  if (code != CURLE_OK) {
    throw TransportError(service + " is out of reach: " + (error[0] ? error : curl_easy_strerror(code)), true,
                         FailureScope::Connection);
  }
  if (status >= 500 || status == 429) {
    throw TransportError(service + " answered HTTP " + std::to_string(status) + "; trying again later", true,
                         FailureScope::Connection);
  }
  TokenAnswer answer;
  if (!ParseTokenAnswer(body, answer)) {
    throw TransportError(service + " gave an answer that is not JSON (HTTP " + std::to_string(status) + ")", false,
                         FailureScope::Connection);
  }
  return answer;
}

StoredTokens SaveGrant(const std::string& path, const OAuth2Settings& settings, const TokenAnswer& answer,
                       const StoredTokens& previous) {
  StoredTokens tokens = previous;
  tokens.clientId = settings.clientId;
  tokens.tokenUrl = settings.tokenUrl;
  tokens.accessToken = answer.accessToken;
  if (!answer.refreshToken.empty()) tokens.refreshToken = answer.refreshToken;
  // Without expires_in the token is used until a server refuses it.
  tokens.expiresAt = answer.expiresIn ? UnixNow() + *answer.expiresIn : 0;
  if (!answer.scope.empty()) tokens.scope = answer.scope;
  std::string why;
  if (!SaveTokenFile(path, tokens, why)) {
    throw TransportError("cannot save the sign-in: " + why, false, FailureScope::Connection);
  }
  return tokens;
}

AccessTokens::AccessTokens(const Config& config, EventLog& log)
    : m_settings(config.oauth2),
      m_service(config.oauth2, config.network),
      m_log(log),
      m_path(config.FileBesideProgram(kTokenFileName)),
      m_account(config.imap.oauth2 ? config.imap.user : config.smtp.user) {}

void AccessTokens::Ensure() {
  if (!m_settings.tokenCommand.empty()) {
    if (m_current.empty()) RunTokenCommand();
    return;
  }
  if (!m_loaded) {
    std::string why;
    switch (LoadTokenFile(m_path, m_stored, why)) {
      case TokenFileState::Missing:
        throw LoginError("not signed in yet (no " + m_path + "); sign in with LVEmailAccess --authorize");
      case TokenFileState::Broken:
        throw LoginError(why + "; " + kSignInAgain);
      case TokenFileState::Loaded:
        break;
    }
    if (m_stored.clientId != m_settings.clientId || m_stored.tokenUrl != m_settings.tokenUrl) {
      throw LoginError(m_path + " holds a sign-in for another client_id or token service; " + kSignInAgain);
    }
    m_loaded = true;
  }
  // A token fetched in this run is kept until it has really expired, so
  // that a provider issuing short-lived tokens is not asked on every request.
  const std::int64_t ahead = m_refreshedThisRun ? 0 : kRenewAheadSeconds;
  const bool expired = m_stored.accessToken.empty() || (m_stored.expiresAt != 0 && UnixNow() + ahead >= m_stored.expiresAt);
  if (expired) Refresh("the access token has expired");
  m_current = m_stored.accessToken;
}

bool AccessTokens::Renew() {
  if (m_renewed) return false;
  m_renewed = true;
  if (!m_settings.tokenCommand.empty()) {
    m_log.Info("a server refused the token from token_command; running it once more");
    RunTokenCommand();
  } else {
    Refresh("a server refused the access token");
  }
  return true;
}

void AccessTokens::Refresh(const std::string& why) {
  m_log.Info(why + "; asking " + m_settings.tokenUrl + " for a new one");
  FormFields fields = {{"grant_type", "refresh_token"}, {"refresh_token", m_stored.refreshToken}};
  if (!m_settings.scope.empty()) fields.emplace_back("scope", m_settings.scope);
  const TokenAnswer answer = m_service.Post(m_settings.tokenUrl, fields);
  if (!answer.error.empty()) {
    const std::string said = answer.error + (answer.errorDescription.empty() ? "" : ": " + answer.errorDescription);
    throw LoginError("the token service refused to renew the sign-in (" + said + "); " + kSignInAgain);
  }
  if (answer.accessToken.empty()) {
    throw TransportError("the token service " + m_settings.tokenUrl + " answered without an access token", false,
                         FailureScope::Connection);
  }
  const bool rotated = !answer.refreshToken.empty() && answer.refreshToken != m_stored.refreshToken;
  // Saved before use: a rotated refresh token is the only one that still works.
  m_stored = SaveGrant(m_path, m_settings, answer, m_stored);
  m_refreshedThisRun = true;
  m_current = m_stored.accessToken;
  m_log.Info("access token renewed" + std::string(rotated ? ", with a new refresh token," : "") + " and saved in " +
             m_path + (m_stored.expiresAt ? "; valid until " + FormatLocalDateTime(m_stored.expiresAt) : ""));
}

void AccessTokens::RunTokenCommand() {
  const std::string& program = m_settings.tokenCommand.front();
  std::string output;
  const platform::ProcessOutcome outcome = platform::RunAndCapture(
      program, std::vector<std::string>(m_settings.tokenCommand.begin() + 1, m_settings.tokenCommand.end()), output);
  const std::string named = "token_command " + program;
  if (!outcome.started) throw LoginError("cannot start " + named + ": " + outcome.error);
  // 75 (EX_TEMPFAIL) is how a token helper says "not now": the network.
  if (outcome.exitCode == 75) throw TransportError(named + " failed for now (exit status 75)", true, FailureScope::Connection);
  if (outcome.exitCode != 0) {
    throw LoginError(named + " failed (" + (outcome.signal ? "signal " + std::to_string(outcome.signal)
                                                              : "exit status " + std::to_string(outcome.exitCode)) +
                     ")");
  }
  std::string line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!IsPrintableAscii(line, false)) {
    throw LoginError(named + " printed no token on its first line (one word of printable ASCII expected)");
  }
  m_current = line;
}

std::string AccessTokens::Describe() const {
  if (!m_settings.tokenCommand.empty()) {
    return "Sign-in: OAuth 2.0" + (m_account.empty() ? "" : ", account " + m_account) +
           ", access token from token_command " + m_settings.tokenCommand.front();
  }
  // Graph's sign-in names no account in the settings: --check asks /me.
  return "Sign-in: OAuth 2.0 with " + m_settings.provider + (m_account.empty() ? "" : ", account " + m_account) +
         ", scopes " +
         (m_stored.scope.empty() ? "not stated" : m_stored.scope) + ", access token valid until " +
         (m_stored.expiresAt ? FormatLocalDateTime(m_stored.expiresAt) : "a server refuses it");
}

}  // namespace emailaccess
