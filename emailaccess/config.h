// The program's settings: LVEmailAccess.conf beside the program, or the
// embedded default when there is no such file.
//
// The file is INI text: "[section]" lines, "key = value" lines, and comment
// lines starting with "#" or ";". Unknown sections and keys are errors, so a
// mistyped setting is never silently ignored. Relative folder and file names
// are taken from the program's folder. Loading throws ConfigError (exit
// status 78) with the file name and line; it never creates or changes
// anything. Passwords come from the file or, taking precedence, from the
// environment variables LVEMAILACCESS_SMTP_PASSWORD and
// LVEMAILACCESS_IMAP_PASSWORD; no error message ever contains one.
// Settings that weaken security, and a file holding a password that others
// may read, are accepted with a warning in `warnings`, which every run logs.
//
// A server may sign in with OAuth 2.0 instead of a password ("auth =
// oauth2"): the [oauth2] section then names the provider (or a command that
// prints a token); LVEMAILACCESS_OAUTH2_CLIENT_SECRET wins over the file's
// client_secret. Which token the run uses is attached to the server's
// settings as `tokens` (oauth2.h) by the command line, not read from the file.
#pragma once

#include "emailaccess/pace.h"

#include "emailaccess/folders.h"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MaildirSettings {
  std::string outbox;     // where sent messages are delivered
  std::string inbox;      // where replies arrive
  PerFolder<std::string> folders;  // where messages are filed (full paths)
};

class AccessTokens;

// A mail server and who logs in to it.
struct ServerSettings {
  std::string url;             // scheme://host[:port]/... as written in the file
  std::string scheme;          // "smtp", "smtps", "imap" or "imaps"
  std::string host;            // the server's name, from the URL
  std::string user;            // empty: no login (allowed for SMTP only)
  std::string password;        // never logged, never shown
  std::string passwordSource;  // "the file", the variable's name, or empty
  bool oauth2 = false;         // auth = oauth2: a bearer token instead of the password
  std::shared_ptr<AccessTokens> tokens;  // the run's tokens when oauth2; set by the caller
};

struct SmtpSettings : ServerSettings {
  std::string queue;  // Maildir of messages not sent yet (full path)
  Pace pace;          // how fast the account may send; unpaced unless set (graph: Microsoft 365's)
  bool paceSet = false;  // pace = is in the file
  int dailyLimit = -1;  // daily_limit: the day cap whatever the pace's preset says; -1 when not set
};

struct ImapSettings : ServerSettings {
  std::string serverUrl;  // scheme://host:port/ without the mailbox
  std::string mailbox;    // the folder replies arrive in, from the URL's path
  PerFolder<std::string> folders;  // where messages are filed: names on the server
};

struct TlsSettings {
  bool required = true;  // smtp:// and imap:// must switch to TLS (STARTTLS)
  bool verify = true;    // the server's certificate and name are checked
  std::string caFile;    // a private certificate authority (full path), or empty
};

struct NetworkSettings {
  int timeoutSeconds = 30;  // for connecting, and for a stalled transfer
  int retries = 3;          // more attempts after a temporary failure
  int retryWaitMs = 1000;   // before the first retry; doubled for each further one
};

// The [replies] section: how long replies may come, how large one may be,
// and whose word on a sender counts.
struct ReplySettings {
  int keepSentDays = 400;  // the sent register keeps each message this long (sent_register.h)
  int sizeLimitMb = 25;    // a larger message goes to Needs reading unread by this program
  // The authserv-id of the Authentication-Results field the church's own
  // mail provider adds (authentication_results.h: a preset's name, or the
  // server's own name); empty when none is believed.
  std::string authservId;
};

// transport = graph: the signed-in mailbox through Microsoft Graph (its
// REST service over HTTPS), signed in with [oauth2].
struct GraphSettings {
  std::string url;                 // the service, "https://graph.microsoft.com/v1.0" unless set
  std::string host;                // the service's host, from the URL, for the log
  PerFolder<std::string> folders;  // where messages are filed: folder names beside the Inbox
  std::shared_ptr<AccessTokens> tokens;  // the run's tokens; set by the caller
};

inline constexpr const char kDefaultGraphUrl[] = "https://graph.microsoft.com/v1.0";

// The [mailings] section: how a mailing run again is told from a new one.
struct MailingSettings {
  // Within so many days of a mailing's round, running it again reaches only
  // those who have none of it yet; after them it is sent to all listed again.
  int remindAfterDays = 7;
};

// The [oauth2] section: where the tokens come from.
struct OAuth2Settings {
  bool present = false;          // the file has an [oauth2] section
  std::string provider;          // "microsoft", "google", "custom", or empty with token_command
  std::string tenant;            // Microsoft's directory ("organizations" unless set)
  std::string clientId;
  std::string clientSecret;      // never logged, never shown
  std::string clientSecretSource;  // "the file", the variable's name, or empty
  std::string authorizeUrl;      // the browser sign-in (authorization code with PKCE)
  std::string tokenUrl;
  std::string deviceUrl;         // the sign-in with a code typed elsewhere (device grant)
  std::string scope;             // blank-separated
  std::vector<std::string> tokenCommand;  // program and arguments; empty when not set

  bool UsesDeviceFlow() const { return !deviceUrl.empty(); }
};

inline constexpr const char kTransportMaildir[] = "maildir";
inline constexpr const char kTransportSmtpImap[] = "smtp+imap";
// The Outlook the user has signed in to, through its object model (Windows).
inline constexpr const char kTransportOutlook[] = "outlook";
// The mailbox of Microsoft 365 through Microsoft Graph.
inline constexpr const char kTransportGraph[] = "graph";

struct Config {
  std::string source;          // the file read, or kEmbeddedDefault
  std::string programDir;      // ends with '/'
  std::string senderName;      // display name of From, may be empty
  std::string senderAddress;   // address of From
  std::string transport;       // kTransportMaildir, kTransportSmtpImap, kTransportOutlook or kTransportGraph
  int lockWaitSeconds = 10;    // how long operation 4 waits for another run
  MaildirSettings maildir;     // full paths
  SmtpSettings smtp;
  ImapSettings imap;
  TlsSettings tls;
  NetworkSettings network;
  OAuth2Settings oauth2;
  GraphSettings graph;
  ReplySettings replies;
  MailingSettings mailings;
  std::vector<std::string> warnings;  // to be logged on every run
  bool holdsPassword = false;         // the text itself names a password or client secret

  bool UsesOAuth2() const {
    return transport == kTransportGraph || (transport == kTransportSmtpImap && (smtp.oauth2 || imap.oauth2));
  }

  std::string FileBesideProgram(const std::string& name) const { return programDir + name; }
};

// Looks up an environment variable; nullopt when it is not set.
using Environment = std::function<std::optional<std::string>(const std::string&)>;
// The process's own environment.
std::optional<std::string> ProcessEnvironment(const std::string& name);

inline constexpr const char kConfigFileName[] = "LVEmailAccess.conf";

inline constexpr const char kEmbeddedDefault[] = "embedded default";
inline constexpr const char kConfigExampleName[] = "LVEmailAccess.conf.example";

// The embedded default for a program living in `programDir`: Maildir
// folders under Mail/ beside it.
Config DefaultConfig(const std::string& programDir);

// What the computer offers for mail when no settings file says otherwise.
enum class LocalMail {
  Folders,  // no Outlook to be had here: the local Maildir folders
  Outlook,  // Outlook is installed: it sends and reads the mail
  None,     // a system with Outlook's kind of automation, but no Outlook
};

// The settings when there is no LVEmailAccess.conf: the embedded default,
// with transport = outlook for LocalMail::Outlook. For LocalMail::None throws
// ConfigError "no mail provider is set up: ...", naming the settings file and
// the example beside it: nothing could be sent or read.
Config ConfigWithoutFile(const std::string& programDir, LocalMail local);

// Settings from INI text; `sourceName` names it in error messages.
Config ParseConfig(std::string_view text, const std::string& programDir, const std::string& sourceName,
                   const Environment& environment = ProcessEnvironment);

// LVEmailAccess.conf in `programDir` when it exists, else
// ConfigWithoutFile(programDir, localMail()): what the computer offers is
// asked only then (SystemLocalMail in outlook/outlook_session.h).
Config LoadConfig(const std::string& programDir, const std::function<LocalMail()>& localMail,
                  const Environment& environment = ProcessEnvironment);

}  // namespace emailaccess
