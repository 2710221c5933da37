// One connection to a mail server through libcurl, and what SMTP and IMAP
// share: TLS required and the certificate verified unless the settings say
// otherwise, a private certificate authority, the login, time limits, and
// retrying a temporary failure with growing waits.
//
// A CurlSession owns one libcurl easy handle and reuses it for every request,
// so libcurl keeps the connection (with its TLS session and login) open from
// one request to the next and opens a new one by itself when the server has
// dropped it. Every request starts from the shared options, so nothing of one
// request's own options leaks into the next. Run() retries temporary failures
// by the program's one rule (retry.h) and throws TransportError for the rest (LoginError for a refused login).
// The password goes to libcurl and nowhere else: messages name the server and
// the user only. With OAuth 2.0 the server's `tokens` supply a bearer token
// instead; a server that refuses it gets one renewed token and one retry.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"

#include <curl/curl.h>

#include <functional>
#include <string>

namespace emailaccess {

// libcurl's one-time global set-up; call it before the first session, while
// the process has one thread.
void EnsureCurl();

struct CurlResult {
  CURLcode code = CURLE_OK;
  long response = 0;      // SMTP's numeric reply (250, 451, 550 ...); 0 when none or for IMAP
  std::string error;      // libcurl's explanation when code is not CURLE_OK
  std::string body;       // what the request returned: a message, untagged IMAP responses
  std::string lastReply;  // the server's last reply line
  std::string refusal;    // its last refusal: "550 5.1.1 no such user", "A7 NO [TRYCREATE] ..."
  std::string transcript;  // every reply line as received, when asked for
};

enum class FailureKind {
  None,
  MessageTemporary,     // this request may succeed later (4xx, mailbox busy)
  MessagePermanent,     // this request will not succeed (5xx, message gone)
  ConnectionTemporary,  // the server is out of reach or dropped the connection
  ConnectionPermanent,  // TLS or the certificate refused, the URL unusable
  Login,                // user name or password refused
};

// What a finished request's outcome means. `response` is the numeric reply
// where the protocol has one; `refusal` the server's refusal line (an IMAP
// "NO [UNAVAILABLE]" passes by itself).
FailureKind ClassifyFailure(CURLcode code, long response, const std::string& refusal);

// True for a reply line that refuses: SMTP "4xx"/"5xx", IMAP "<tag> NO"/"BAD".
bool IsRefusal(const std::string& line);

class CurlSession {
 public:
  // `protocols` limits libcurl to "smtp,smtps" or "imap,imaps"; `numericReplies`
  // is true for SMTP, whose replies carry codes. `log` receives the retries.
  CurlSession(const ServerSettings& server, const TlsSettings& tls, const NetworkSettings& network,
              const char* protocols, bool numericReplies, EventLog& log);
  ~CurlSession();
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  using Prepare = std::function<void(CURL*)>;

  // One request: the shared options, then `prepare`'s own. Never throws.
  // With `keepTranscript` the result also holds every reply line.
  CurlResult Perform(const Prepare& prepare, bool keepTranscript = false);

  // Closes the connection; the next request opens a new one. For when what
  // the server sends can no longer be told apart from what it sent before.
  void DropConnection();

  // Reads a failed attempt's result (with its transcript) before it is
  // judged: it may throw an error of its own, or make the refusal clearer.
  using Inspect = std::function<void(CurlResult&)>;

  // Perform, retrying temporary failures (unless `retry` is false, for a
  // request that must not be repeated blindly); `action` describes the
  // request in messages ("sending to ann@example.org"). Throws TransportError.
  CurlResult Run(const std::string& action, const Prepare& prepare, bool retry = true, const Inspect& inspect = {});

  // The handle, for a connection libcurl only set up (CURLOPT_CONNECT_ONLY).
  CURL* handle() const { return m_handle; }

  // Has an access token ready when the server signs in with OAuth 2.0 (Run
  // does this itself). Throws LoginError when nobody has signed in yet.
  void EnsureSignedIn();

  // For a check: why this server cannot be signed in to, naming the server
  // (a sign-in's own errors do not); empty when it can.
  std::string SignInProblem();

  // The error Run would throw for a failed result.
  [[noreturn]] void Throw(const std::string& action, const CurlResult& result, FailureKind kind) const;

  // While on, the TLS protocol and cipher of new connections are recorded.
  void RecordTls(bool on) { m_recordTls = on; }
  const std::string& tlsDescription() const { return m_tlsDescription; }

  // "SMTP smtp://host:587", for messages.
  const std::string& name() const { return m_name; }
  const ServerSettings& server() const { return m_server; }
  const TlsSettings& tls() const { return m_tls; }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnReply(char* data, size_t size, size_t count, void* self);
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);

  CURL* m_handle;
  ServerSettings m_server;
  TlsSettings m_tls;
  NetworkSettings m_network;
  std::string m_protocols;
  bool m_numericReplies;
  EventLog& m_log;
  std::string m_name;
  CurlResult* m_current = nullptr;
  bool m_keepTranscript = false;
  char m_errorBuffer[CURL_ERROR_SIZE] = {};
  bool m_recordTls = false;
  std::string m_tlsDescription;
};

}  // namespace emailaccess
