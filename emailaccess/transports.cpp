#include "emailaccess/transports.h"

#include "emailaccess/graph/graph_sender.h"
#include "emailaccess/graph/graph_store.h"
#include "emailaccess/imap/imap_store.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/outlook/outlook_transport.h"
#include "emailaccess/signin/oauth2.h"
#include "emailaccess/smtp/smtp_sender.h"

#include <stdexcept>

namespace emailaccess {
namespace {

std::unique_ptr<IMailSender> MaildirSender(const Config& config, EventLog&) {
  return std::make_unique<MaildirTransport>(config.maildir);
}
std::unique_ptr<IMailStore> MaildirStore(const Config& config, EventLog&) {
  return std::make_unique<MaildirTransport>(config.maildir);
}
void CheckMaildir(const Config& config, EventLog&, std::vector<CheckFinding>& findings) {
  MaildirTransport(config.maildir).Check(findings);
}

std::unique_ptr<IMailSender> ServerSender(const Config& config, EventLog& log) {
  return std::make_unique<SmtpSender>(config, log);
}
std::unique_ptr<IMailStore> ServerStore(const Config& config, EventLog& log) {
  return std::make_unique<ImapStore>(config, log);
}
std::string ServerQueue(const Config& config) { return config.smtp.queue; }

// Where the passwords and the sign-in come from, then both servers and the queue.
void CheckServers(const Config& config, EventLog& log, std::vector<CheckFinding>& findings) {
  for (const ServerSettings* server : {static_cast<const ServerSettings*>(&config.smtp),
                                       static_cast<const ServerSettings*>(&config.imap)}) {
    if (!server->passwordSource.empty()) {
      findings.push_back({true, server->url + ": password of " + server->user + " from " + server->passwordSource});
    }
  }
  if (!config.oauth2.clientSecretSource.empty()) {
    findings.push_back({true, "OAuth 2.0 client secret from " + config.oauth2.clientSecretSource});
  }
  if (const std::shared_ptr<AccessTokens>& tokens = config.imap.tokens ? config.imap.tokens : config.smtp.tokens) {
    try {
      tokens->Ensure();
      findings.push_back({true, tokens->Describe()});
    } catch (const TransportError& e) {
      findings.push_back({false, "Sign-in: " + std::string(e.what())});
    }
  }
  SmtpSender(config, log).Check(findings);
  ImapStore(config, log).Check(findings);
  MaildirFolder(config.smtp.queue).Check("Queue", findings, true);
}

std::unique_ptr<IMailSender> OutlookSender(const Config&, EventLog& log) {
  return std::make_unique<OutlookTransport>(log);
}
std::unique_ptr<IMailStore> OutlookStore(const Config&, EventLog& log) {
  return std::make_unique<OutlookTransport>(log);
}
void CheckOutlook(const Config&, EventLog& log, std::vector<CheckFinding>& findings) {
  OutlookTransport(log).Check(findings);
}

std::unique_ptr<IMailSender> GraphMailSender(const Config& config, EventLog& log) {
  return std::make_unique<GraphSender>(config, log);
}
std::unique_ptr<IMailStore> GraphMailStore(const Config& config, EventLog& log) {
  return std::make_unique<GraphStore>(config, log);
}

// The sign-in with its scopes, the account, the Inbox and its folders, and
// the queue; nothing is sent, created or moved.
void CheckGraph(const Config& config, EventLog& log, std::vector<CheckFinding>& findings) {
  if (!config.oauth2.clientSecretSource.empty()) {
    findings.push_back({true, "OAuth 2.0 client secret from " + config.oauth2.clientSecretSource});
  }
  if (!config.graph.tokens) {
    findings.push_back({false, "Sign-in: none attached to the Graph transport"});
    return;
  }
  try {
    config.graph.tokens->Ensure();
    findings.push_back({true, config.graph.tokens->Describe()});
  } catch (const TransportError& e) {
    findings.push_back({false, "Sign-in: " + std::string(e.what())});
    return;
  }
  GraphSender(config, log).Check(findings);
  GraphStore(config, log).Check(findings);
  MaildirFolder(config.smtp.queue).Check("Queue", findings, true);
}

const Transport kTransports[] = {
    {kTransportMaildir, &MaildirSender, &MaildirStore, &CheckMaildir, kStateFileName, nullptr, true},
    {kTransportSmtpImap, &ServerSender, &ServerStore, &CheckServers, kStateFileName, &ServerQueue, false},
    {kTransportOutlook, &OutlookSender, &OutlookStore, &CheckOutlook, kOutlookStateFileName, nullptr, false},
    {kTransportGraph, &GraphMailSender, &GraphMailStore, &CheckGraph, kStateFileName, &ServerQueue, false},
};

const Transport& TransportNamed(const std::string& name) {
  for (const Transport& transport : kTransports) {
    if (name == transport.name) return transport;
  }
  // The settings reader accepts only the names of its own table.
  throw std::logic_error("no transport is called '" + name + "'");
}

}  // namespace

const Transport& TransportOf(const Config& config) { return TransportNamed(config.transport); }

const Transport& OutlookTransportRow() { return TransportNamed(kTransportOutlook); }

}  // namespace emailaccess
