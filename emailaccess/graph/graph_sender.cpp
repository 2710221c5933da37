#include "emailaccess/graph/graph_sender.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/text_encoding.h"

namespace emailaccess {

std::string Base64Text(const std::string& bytes) {
  GCharPtr text(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
  return text ? text.get() : std::string();
}

GraphSender::GraphSender(const Config& config, EventLog& log) : m_client(config, log) {}

std::string GraphSender::Send(const std::string& recipient, const std::string& message) {
  const Mailbox to = RecipientMailboxOfMessage(message);
  if (to.address.size() != recipient.size() || !ContainsIgnoringCase(to.address, recipient)) {
    throw TransportError("not sent to " + recipient + ": the message is addressed to '" + to.address + "'", false);
  }
  GraphRequest request;
  request.method = "POST";
  request.target = "/me/sendMail";
  request.contentType = "text/plain";
  request.body = Base64Text(message);
  m_client.Call("sending to " + recipient, request, "Mail.Send", GraphClient::Kind::HandOver);
  return Route();
}

void GraphSender::Check(std::vector<CheckFinding>& findings) {
  try {
    const nlohmann::json me = m_client.CallJson("reading the signed-in account", {"GET", "/me", "", "", {}}, "User.Read");
    std::string account;
    for (const char* key : {"mail", "userPrincipalName"}) {
      if (account.empty() && me.contains(key) && me[key].is_string()) account = me[key].get<std::string>();
    }
    findings.push_back({!account.empty(), m_client.name() + ": signed in as " + (account.empty() ? "an account without an address" : account)});
  } catch (const TransportError& e) {
    findings.push_back({false, e.what()});
  }
}

}  // namespace emailaccess
