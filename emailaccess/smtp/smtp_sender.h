// Sending through an SMTP submission server with libcurl.
//
// One connection carries the whole list: the sender keeps one CurlSession,
// whose connection libcurl reuses from message to message. smtp:// must
// switch to TLS with STARTTLS and smtps:// starts with TLS (unless the
// settings say TLS is not required). Each message goes to its one recipient;
// the reply to it decides: 250 is sent, 4xx and a dropped connection are
// retried a few times with growing waits, 5xx is refused for good. Send
// throws TransportError when the message was not accepted (see transport.h
// for temporary and connection failures): SendingHeld, without a retry, for
// a throttling answer or a used-up account quota, AnswerLost when the
// connection broke after the whole message went out (smtp_answer.h). A
// refusal is told with every line of the server's reply. Messages must have CR LF line ends:
// libcurl's dot-stuffing looks for them.
#pragma once

#include "emailaccess/signin/curl_session.h"
#include "emailaccess/transport.h"

namespace emailaccess {

class SmtpSender : public IMailSender {
 public:
  // The envelope sender, where bounces go, is the configured sender address.
  SmtpSender(const Config& config, EventLog& log);

  std::string Send(const std::string& recipient, const std::string& message) override;
  std::string Route() const override { return "sent through " + m_host; }
  // Logs in, reports TLS and the login, and sends nothing.
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  // Reads a failed attempt by the server's last reply; throws SendingHeld or
  // AnswerLost where that reply means it.
  void ReadFailure(const std::string& recipient, CurlResult& failed, bool wholeMessageOut) const;

  CurlSession m_session;
  std::string m_envelopeFrom;
  std::string m_host;
};

}  // namespace emailaccess
