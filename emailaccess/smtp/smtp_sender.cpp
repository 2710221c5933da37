#include "emailaccess/smtp/smtp_sender.h"

#include "emailaccess/message/text_encoding.h"
#include "emailaccess/smtp/smtp_answer.h"

#include <cstring>
#include <memory>

namespace emailaccess {
namespace {

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

// The message as libcurl reads it, from the start on every attempt.
struct Upload {
  const std::string* data;
  size_t offset = 0;

  static size_t Read(char* buffer, size_t size, size_t count, void* self) {
    auto* upload = static_cast<Upload*>(self);
    const size_t n = std::min(size * count, upload->data->size() - upload->offset);
    std::memcpy(buffer, upload->data->data() + upload->offset, n);
    upload->offset += n;
    return n;
  }
};

// The connection broke, or fell silent, instead of answering.
bool ConnectionCut(CURLcode code) {
  return code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING ||
         code == CURLE_OPERATION_TIMEDOUT || code == CURLE_PARTIAL_FILE;
}

std::string TransportLayer(const CurlSession& session) {
  if (session.server().scheme == "smtps") return "implicit TLS";
  return session.tls().required ? "STARTTLS" : "STARTTLS if offered";
}

}  // namespace

SmtpSender::SmtpSender(const Config& config, EventLog& log)
    : m_session(config.smtp, config.tls, config.network, "smtp,smtps", true, log),
      m_envelopeFrom("<" + config.senderAddress + ">"),
      m_host(config.smtp.host) {}

std::string SmtpSender::Send(const std::string& recipient, const std::string& message) {
  SlistPtr recipients(curl_slist_append(nullptr, ("<" + recipient + ">").c_str()));
  // libcurl's dot-stuffing finds line starts by CR LF, so no other line end
  // may reach it (a lone LF before a "." would end the message early).
  const std::string wire = CanonicalCrlf(message);
  Upload upload{&wire};
  const CurlResult result = m_session.Run("sending to " + recipient, [&](CURL* h) {
    upload.offset = 0;
    curl_easy_setopt(h, CURLOPT_URL, m_session.server().url.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, m_envelopeFrom.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &Upload::Read);
    curl_easy_setopt(h, CURLOPT_READDATA, &upload);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(wire.size()));
  }, true, [&](CurlResult& failed) { ReadFailure(recipient, failed, upload.offset == wire.size()); });
  return m_session.name() + ": " + (result.lastReply.empty() ? std::to_string(result.response) : result.lastReply);
}

void SmtpSender::ReadFailure(const std::string& recipient, CurlResult& failed, bool wholeMessageOut) const {
  const std::vector<std::string> reply = LastReply(failed.transcript);
  const std::string said = ToldReply(reply);
  switch (ReadAnswer(reply, ConnectionCut(failed.code), wholeMessageOut)) {
    case AnswerMeaning::AnswerLost:
      throw AnswerLost(m_session.name() + ": the message to " + recipient +
                       " was handed over, but the connection broke before the server's answer came (" + failed.error +
                       "): it is probably delivered");
    case AnswerMeaning::Throttled:
      throw SendingHeld(m_session.name() + " asks to slow down: it takes no more messages for now (the server said: " +
                            said + "); this is a limit on the sending rate, the server is not out of reach",
                        SendingHeld::Why::Throttled, "held back by the server's sending rate limit");
    case AnswerMeaning::QuotaUsedUp:
      throw SendingHeld(m_session.name() + ": the account's sending quota is used up, sending stopped (the server said: " +
                            said + ")",
                        SendingHeld::Why::QuotaUsedUp, "held back until the account's sending quota frees");
    case AnswerMeaning::Other:
      break;
  }
  // Every line of the refusal is told, not just its last (often a link).
  if (IsRefusal(said)) {
    failed.refusal = said;
    if (failed.code == CURLE_WEIRD_SERVER_REPLY) failed.error = "the server did not take the message";
  }
}

void SmtpSender::Check(std::vector<CheckFinding>& findings) {
  const std::string label = m_session.name() + ": ";
  // Without a sign-in there is no token to offer; the server would only be
  // shown an empty one and refuse it, which reads as a revoked sign-in.
  if (std::string problem = m_session.SignInProblem(); !problem.empty()) {
    findings.push_back({false, std::move(problem)});
    return;
  }
  m_session.RecordTls(true);
  // NOOP after the greeting, TLS and login: everything but a message.
  const CurlResult result = m_session.Perform([&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, m_session.server().url.c_str());
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "NOOP");
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  });
  m_session.RecordTls(false);
  const FailureKind kind = ClassifyFailure(result.code, result.response, result.refusal);
  if (kind != FailureKind::None) {
    try {
      m_session.Throw("checking", result, kind);
    } catch (const TransportError& e) {
      findings.push_back({false, e.what()});
    }
    return;
  }
  const std::string& tls = m_session.tlsDescription();
  std::string text = label + (tls.empty() ? "no TLS" : TransportLayer(m_session) + ", " + tls);
  if (!tls.empty()) text += m_session.tls().verify ? ", certificate verified" : ", certificate NOT verified";
  text += m_session.server().user.empty() ? ", no login" : ", logged in as " + m_session.server().user;
  findings.push_back({!tls.empty() || !m_session.tls().required, text});
}

}  // namespace emailaccess
