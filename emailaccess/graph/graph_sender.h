// Sending through Microsoft Graph: each message as this program composed
// it, byte for byte (the same MIME the other transports send, its
// Message-ID included, so that the sent register finds the replies and
// delivery reports), handed to POST /me/sendMail as base64 text. Graph
// takes the recipients from the message's own To header and keeps a copy in
// Sent Items, as Outlook shows a message sent from it. 202 Accepted is sent;
// every other answer is told as graph_client.h says (a throttled sending is
// SendingHeld, a lost answer AnswerLost, never sent again).
#pragma once

#include "emailaccess/graph/graph_client.h"
#include "emailaccess/transport.h"

namespace emailaccess {

class GraphSender : public IMailSender {
 public:
  GraphSender(const Config& config, EventLog& log);

  // Refuses (a lasting error) a message whose To header is not `recipient`:
  // Graph would deliver it to whoever the header names.
  std::string Send(const std::string& recipient, const std::string& message) override;
  std::string Route() const override { return "sent through " + m_client.host(); }
  // Reads the signed-in account (GET /me); sends nothing.
  void Check(std::vector<CheckFinding>& findings) override;

 private:
  GraphClient m_client;
};

// The base64 text of `bytes`, as sendMail takes a MIME message.
std::string Base64Text(const std::string& bytes);

}  // namespace emailaccess
