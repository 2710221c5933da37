// Real mail servers for one test: Dovecot (IMAP with STARTTLS and implicit
// TLS) and an SMTP submission server (STARTTLS or implicit TLS, AUTH
// required), both on 127.0.0.1 ports chosen at run time, sharing one
// Maildir. mail_servers.py beside this file does the work; this class starts
// it, talks to it, and stops it (and with it every server process) when it is
// destroyed, also when the test fails. If the test process dies, the servers
// end with it (they get its death signal).
//
// The constructor throws std::runtime_error when the servers cannot be
// started (Dovecot, aiosmtpd or openssl missing: scripts/bootstrap.sh
// installs them).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace emailaccess_test {

// How LVEmailAccess is set up to reach the servers.
struct ClientOptions {
  std::string smtpScheme = "smtp";   // "smtp" (STARTTLS) or "smtps"
  std::string imapScheme = "imaps";  // "imaps" or "imap" (STARTTLS)
  bool trustServerCa = true;         // ca_file names the servers' certificate
  bool verify = true;
  std::string smtpPassword = "secret";  // written into the file; empty: none
  std::string imapPassword = "secret";
  int retries = 2;
  int retryWaitMs = 20;
  // IMAP through the fault proxy (implicit TLS), which cuts a connection
  // when told to ("cut-after UID COPY").
  bool throughProxy = false;
  // Not empty: both servers sign in with OAuth 2.0 (no passwords), and
  // these lines make the [oauth2] section.
  std::string oauth2Section = {};
};

class MailServers {
 public:
  // `withoutMove`: Dovecot does not announce the MOVE extension.
  // `tokenService`: the stand-in OAuth 2.0 provider runs too (its port is
  // `token`; its commands are "token ..."), and both servers take its tokens.
  // `rawlog`: Dovecot writes every IMAP session into home/dovecot.rawlog/.
  explicit MailServers(bool withoutMove = false, bool tokenService = false, bool rawlog = false);
  ~MailServers();
  MailServers(const MailServers&) = delete;
  MailServers& operator=(const MailServers&) = delete;

  // A command of mail_servers.py ("stop-imap", "smtp-stop-after 2", ...);
  // returns its JSON answer and throws when it failed.
  std::string Command(const std::string& line);

  // Delivers `message` into a folder of the mail user ("INBOX" or a name),
  // unread unless `seen`, as a mail server delivers it.
  void Deliver(const std::string& folder, const std::string& message, bool seen = false);
  // Delivers `count` unread messages made from `message`, each with "{n}" in
  // it replaced by its number, 1 to `count` (one command for all).
  void DeliverMany(const std::string& folder, const std::string& message, int count);
  // The messages in a folder (its new/ and cur/), by file name; with
  // `names`, the file names (with their Maildir flags) instead of contents.
  std::vector<std::string> Messages(const std::string& folder, bool names = false) const;
  int SmtpConnections();
  std::vector<std::string> SmtpRecipients();

  // LVEmailAccess.conf text for these servers.
  std::string ClientConfig(const ClientOptions& options = {}) const;

  int imap = 0, imaps = 0, imapsProxy = 0, smtp = 0, smtps = 0, token = 0;
  // The Microsoft Graph stand-in (graph_standin.py): its port, serving
  // https://127.0.0.1:<graph>/v1.0 with `cert`, and the bearer token it takes
  // besides the token service's; its commands are "graph ...".
  int graph = 0;
  std::string graphToken;
  std::string cert, maildir, home, user, password;

 private:
  // Ends mail_servers.py (which stops the servers) and removes the scratch.
  void Stop();
  std::string ReadLine();
  std::string FolderPath(const std::string& folder) const;
  // Writes `message` into a scratch file and sends "<verb> <folder> <file><tail>".
  void DeliverCommand(const std::string& verb, const std::string& folder, const std::string& message,
                      const std::string& tail);

  pid_t m_pid = -1;
  int m_toServer = -1;
  int m_fromServer = -1;
  std::string m_buffer;
  std::string m_scratch;
};

// The value of "key" in a one-line JSON object of numbers and plain strings
// (or a string array, as its elements).
std::string JsonValue(const std::string& json, const std::string& key);
std::vector<std::string> JsonStrings(const std::string& json, const std::string& key);

}  // namespace emailaccess_test
