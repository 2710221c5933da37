#include "emailaccess/signin/curl_session.h"

#include "emailaccess/signin/oauth2.h"
#include "emailaccess/retry.h"
#include "emailaccess/transport.h"

#include <cctype>
#include <mutex>

namespace emailaccess {

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

FailureKind ClassifyFailure(CURLcode code, long response, const std::string& refusal) {
  if (code == CURLE_OK) return FailureKind::None;
  switch (code) {
    case CURLE_LOGIN_DENIED:
      return FailureKind::Login;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_NOT_BUILT_IN:
      return FailureKind::ConnectionPermanent;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_AGAIN:
      return FailureKind::ConnectionTemporary;
    default:
      break;
  }
  // 421: the server is closing the connection (shutting down, overloaded).
  if (response == 421) return FailureKind::ConnectionTemporary;
  if (response >= 500 && response < 600) return FailureKind::MessagePermanent;
  if (response >= 400 && response < 500) return FailureKind::MessageTemporary;
  // IMAP's response codes for a mailbox that is busy for the moment.
  if (refusal.find("[UNAVAILABLE]") != std::string::npos || refusal.find("[INUSE]") != std::string::npos) {
    return FailureKind::MessageTemporary;
  }
  // Sending or receiving broke off without a reply: the connection dropped.
  if (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_PARTIAL_FILE) {
    return response == 0 ? FailureKind::ConnectionTemporary : FailureKind::MessagePermanent;
  }
  return FailureKind::MessagePermanent;
}

CurlSession::CurlSession(const ServerSettings& server, const TlsSettings& tls, const NetworkSettings& network,
                         const char* protocols, bool numericReplies, EventLog& log)
    : m_handle(nullptr),
      m_server(server),
      m_tls(tls),
      m_network(network),
      m_protocols(protocols),
      m_numericReplies(numericReplies),
      m_log(log) {
  EnsureCurl();
  m_handle = curl_easy_init();
  if (!m_handle) throw TransportError("cannot set up libcurl", false, FailureScope::Connection);
  std::string kind = server.scheme;
  for (char& c : kind) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (!kind.empty() && kind.back() == 'S') kind.pop_back();
  m_name = kind + " " + server.url;
}

CurlSession::~CurlSession() { curl_easy_cleanup(m_handle); }

size_t CurlSession::OnBody(char* data, size_t size, size_t count, void* self) {
  static_cast<CurlSession*>(self)->m_current->body.append(data, size * count);
  return size * count;
}

bool IsRefusal(const std::string& line) {
  if (line.size() >= 4 && (line[0] == '4' || line[0] == '5') && std::isdigit(static_cast<unsigned char>(line[1])) &&
      std::isdigit(static_cast<unsigned char>(line[2])) && (line[3] == ' ' || line[3] == '-')) {
    return true;
  }
  const size_t blank = line.find(' ');
  if (blank == std::string::npos || line[0] == '*' || line[0] == '+') return false;
  const std::string status = line.substr(blank + 1, 4);
  return status == "NO" || status.rfind("NO ", 0) == 0 || status.rfind("BAD", 0) == 0;
}

size_t CurlSession::OnReply(char* data, size_t size, size_t count, void* self) {
  CurlSession& session = *static_cast<CurlSession*>(self);
  if (session.m_keepTranscript) session.m_current->transcript.append(data, size * count);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  CurlResult& result = *static_cast<CurlSession*>(self)->m_current;
  if (!line.empty()) result.lastReply = line;
  if (IsRefusal(line)) result.refusal = line;
  return size * count;
}

int CurlSession::OnDebug(CURL* handle, curl_infotype type, char* data, size_t size, void* self) {
  CurlSession& session = *static_cast<CurlSession*>(self);
  // Some TLS libraries (Windows' own) write no note about the connection:
  // once a server's answer arrives over TLS, the library's name says it.
  // The answer itself is never looked at.
  if (type == CURLINFO_HEADER_IN && session.m_tlsDescription.empty()) {
    const curl_tlssessioninfo* tls = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
        tls->backend != CURLSSLBACKEND_NONE && tls->internals) {
      const char* library = curl_version_info(CURLVERSION_NOW)->ssl_version;
      session.m_tlsDescription = library ? library : "TLS";
    }
  }
  // Only libcurl's own notes are read, never what was sent or received
  // (that would include the login).
  if (type != CURLINFO_TEXT) return 0;
  static constexpr const char kPrefix[] = "SSL connection using ";
  std::string text(data, size);
  if (text.rfind(kPrefix, 0) == 0) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    session.m_tlsDescription = text.substr(sizeof(kPrefix) - 1);
  }
  return 0;
}

void CurlSession::DropConnection() {
  CURL* fresh = curl_easy_init();
  if (!fresh) throw TransportError("cannot set up libcurl", false, FailureScope::Connection);
  curl_easy_cleanup(m_handle);
  m_handle = fresh;
}

CurlResult CurlSession::Perform(const Prepare& prepare, bool keepTranscript) {
  CurlResult result;
  m_current = &result;
  m_keepTranscript = keepTranscript;
  m_errorBuffer[0] = '\0';
  // A reset keeps the open connection; only the options go.
  curl_easy_reset(m_handle);
  CURL* h = m_handle;
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, m_protocols.c_str());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorBuffer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlSession::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlSession::OnReply);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  if (m_server.tokens) {
    // libcurl takes OAUTHBEARER or XOAUTH2, whichever the server offers,
    // and no other mechanism.
    curl_easy_setopt(h, CURLOPT_USERNAME, m_server.user.c_str());
    curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, m_server.tokens->Current().c_str());
    curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
  } else if (!m_server.user.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, m_server.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, m_server.password.c_str());
  }
  curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(m_tls.required ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, m_tls.verify ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, m_tls.verify ? 2L : 0L);
  if (!m_tls.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, m_tls.caFile.c_str());
  const long seconds = m_network.timeoutSeconds;
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, seconds);
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, seconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds);
  if (m_recordTls) {
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &CurlSession::OnDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
  }
  prepare(h);
  result.code = curl_easy_perform(h);
  if (m_numericReplies) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.response);
  if (result.code != CURLE_OK) result.error = m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(result.code);
  m_current = nullptr;
  m_keepTranscript = false;
  return result;
}

void CurlSession::EnsureSignedIn() {
  if (m_server.tokens) m_server.tokens->Ensure();
}

std::string CurlSession::SignInProblem() {
  try {
    EnsureSignedIn();
    return std::string();
  } catch (const TransportError& e) {
    return m_name + ": " + e.what();
  }
}

CurlResult CurlSession::Run(const std::string& action, const Prepare& prepare, bool retry, const Inspect& inspect) {
  return WithRetries(m_network, m_log, [&](int, bool last) {
    EnsureSignedIn();
    CurlResult result = Perform(prepare, static_cast<bool>(inspect));
    FailureKind kind = ClassifyFailure(result.code, result.response, result.refusal);
    // A refused token may have been revoked early: one renewal, one retry.
    if (kind == FailureKind::Login && m_server.tokens && m_server.tokens->Renew()) {
      result = Perform(prepare, static_cast<bool>(inspect));
      kind = ClassifyFailure(result.code, result.response, result.refusal);
    }
    if (kind == FailureKind::None) return result;
    if (inspect) {
      inspect(result);
      kind = ClassifyFailure(result.code, result.response, result.refusal);
    }
    const bool temporary = kind == FailureKind::MessageTemporary || kind == FailureKind::ConnectionTemporary;
    if (!temporary || !retry || last) Throw(action, result, kind);
    throw TryAgain(m_name + ": " + action,
                   result.error + (result.refusal.empty() ? "" : "; the server said: " + result.refusal),
                   kind == FailureKind::ConnectionTemporary ? FailureScope::Connection : FailureScope::Message);
  });
}

void CurlSession::Throw(const std::string& action, const CurlResult& result, FailureKind kind) const {
  const std::string said = result.refusal.empty() ? "" : "; the server said: " + result.refusal;
  switch (kind) {
    case FailureKind::Login:
      if (m_server.tokens) {
        throw LoginError(m_name + ": the server refused the access token of " + m_server.user + " (" + result.error +
                         said + "); sign in again with LVEmailAccess --authorize");
      }
      throw LoginError(m_name + ": the server refused the login of user " + m_server.user + " (" + result.error +
                       said + "); check the user name and password");
    case FailureKind::ConnectionPermanent:
      if (result.code == CURLE_PEER_FAILED_VERIFICATION || result.code == CURLE_SSL_ISSUER_ERROR) {
        throw TransportError(m_name + ": the server's certificate is not trusted (" + result.error +
                                 "); for a private certificate authority set [tls] ca_file",
                             false, FailureScope::Connection);
      }
      if (result.code == CURLE_USE_SSL_FAILED) {
        throw TransportError(m_name + ": the server does not offer TLS (STARTTLS), which is required" + said, false,
                             FailureScope::Connection);
      }
      throw TransportError(m_name + ": " + action + " failed: " + result.error + said, false,
                           FailureScope::Connection);
    case FailureKind::ConnectionTemporary:
      throw TransportError(m_name + ": " + action + " failed, server out of reach: " + result.error + said, true,
                           FailureScope::Connection);
    case FailureKind::MessageTemporary:
      throw TransportError(m_name + ": " + action + " failed for now: " + result.error + said, true);
    default:
      throw TransportError(m_name + ": " + action + " failed: " + result.error + said, false);
  }
}

}  // namespace emailaccess
