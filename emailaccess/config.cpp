#include "emailaccess/config.h"

#include "emailaccess/message/compose.h"
#include "platform/automation.h"
#include "platform/file_names.h"
#include "platform/files.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <memory>

namespace emailaccess {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::string Resolve(const std::string& programDir, const std::string& folder) {
  std::string path = folder;
  // "Mail /" is "Mail": a folder name ending in a blank could not even be
  // written in this file, whose values lose their trailing blanks.
  while (path.size() > 1 && (path.back() == '/' || path.back() == ' ' || path.back() == '\t')) path.pop_back();
  return platform::IsAbsolutePath(path) ? platform::NativeSeparators(path) : platform::JoinPath(programDir, path);
}

using Fail = std::function<void(const std::string&)>;

void SetSender(Config& config, const std::string& text, const Fail& fail) {
  Mailbox sender;
  if (!ParseMailbox(text, sender)) fail("sender is not an address: '" + text + "'");
  config.senderName = sender.name;
  config.senderAddress = sender.address;
}

struct CurlUrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};

struct UrlParts {
  std::string base;  // scheme://host[:port]/
  std::string path;  // decoded, without the leading "/"
};

// The URL as it may be shown: what stands before an "@" in its authority
// could be a password.
std::string WithoutUserInfo(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t at = url.rfind('@', url.find('/', from));
  if (at == std::string::npos || at < from) return url;
  return url.substr(0, from) + "...@" + url.substr(at + 1);
}

// Checks a server URL and fills in its scheme. Credentials, queries and
// fragments have no place in it: a password in a URL ends up in logs.
UrlParts CheckServerUrl(ServerSettings& server, const std::string& section, const std::vector<std::string>& schemes,
                           const Fail& fail) {
  if (server.url.empty()) fail("[" + section + "] url is required for transport = smtp+imap");
  std::unique_ptr<CURLU, CurlUrlFree> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, server.url.c_str(), 0) != CURLUE_OK) {
    fail("[" + section + "] url is not a URL: '" + WithoutUserInfo(server.url) + "'");
  }
  auto part = [&](CURLUPart which, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url.get(), which, &text, flags) != CURLUE_OK || !text) return std::optional<std::string>();
    std::unique_ptr<char, CurlTextFree> owned(text);
    return std::optional<std::string>(owned.get());
  };
  server.scheme = part(CURLUPART_SCHEME).value_or("");
  std::string allowed;
  for (const std::string& scheme : schemes) allowed += (allowed.empty() ? "" : ", ") + scheme + "://";
  if (std::find(schemes.begin(), schemes.end(), server.scheme) == schemes.end()) {
    fail("[" + section + "] url must start with " + allowed);
  }
  if (part(CURLUPART_USER) || part(CURLUPART_PASSWORD)) {
    fail("[" + section + "] url must not hold a user name or password; use user = and password =");
  }
  if (part(CURLUPART_QUERY) || part(CURLUPART_FRAGMENT)) fail("[" + section + "] url has a '?' or '#' part");
  const std::string host = part(CURLUPART_HOST).value_or("");
  if (host.empty()) fail("[" + section + "] url names no server");
  server.host = host;
  const std::optional<std::string> port = part(CURLUPART_PORT);
  UrlParts parts{server.scheme + "://" + host + (port ? ":" + *port : "") + "/",
                 part(CURLUPART_PATH, CURLU_URLDECODE).value_or("")};
  while (!parts.path.empty() && parts.path.front() == '/') parts.path.erase(0, 1);
  return parts;
}

void ResolvePassword(ServerSettings& server, const std::string& section, const char* variable,
                     const Environment& environment, const Fail& fail) {
  if (server.oauth2) {
    // The bearer token takes the password's place; both at once is a mistake.
    if (!server.password.empty()) fail("[" + section + "] auth = oauth2 signs in without a password; remove password =");
    if (server.user.empty()) fail("[" + section + "] auth = oauth2 needs user = (the account that signed in)");
    return;
  }
  if (std::optional<std::string> value = environment(variable); value && !value->empty()) {
    server.password = *value;
    server.passwordSource = variable;
  } else if (!server.password.empty()) {
    server.passwordSource = "the file";
  }
  if (!server.user.empty() && server.password.empty()) {
    fail("[" + section + "] user " + server.user + " has no password: set password = or " + variable);
  }
}

// What transport = smtp+imap needs; warnings for what weakens it.
void CheckMailServers(Config& config, const Environment& environment, const Fail& fail) {
  CheckServerUrl(config.smtp, "smtp", {"smtp", "smtps"}, fail);
  ResolvePassword(config.smtp, "smtp", "LVEMAILACCESS_SMTP_PASSWORD", environment, fail);

  ImapSettings& imap = config.imap;
  const UrlParts parts = CheckServerUrl(imap, "imap", {"imap", "imaps"}, fail);
  imap.serverUrl = parts.base;
  imap.mailbox = parts.path.empty() ? "INBOX" : parts.path;
  if (!IsUsableImapFolderName(imap.mailbox)) fail("[imap] url: the folder '" + imap.mailbox + "' cannot be used");
  if (imap.user.empty()) fail("[imap] user is required");
  ResolvePassword(imap, "imap", "LVEMAILACCESS_IMAP_PASSWORD", environment, fail);
  const std::set<std::string> folders = {imap.mailbox, imap.processed, imap.skipped, imap.undeliverable,
                                         imap.needsReading};
  if (folders.size() != 5) {
    fail("[imap] the mailbox, processed, skipped, undeliverable and needs_reading must be five different folders");
  }

  if (!config.tls.caFile.empty() && !platform::FileExists(config.tls.caFile)) {
    fail("[tls] ca_file " + config.tls.caFile + " does not exist");
  }
  if (!config.tls.required) {
    config.warnings.push_back("TLS is not required ([tls] required = no): mail and passwords may cross the network "
                              "unencrypted");
  }
  if (!config.tls.verify) {
    config.warnings.push_back("server certificates are not verified ([tls] verify = no): anyone between here and "
                              "the server can pose as it and read the passwords");
  }
}

// A token service is reached over HTTPS; plain HTTP only on this computer,
// where nothing crosses a network.
void CheckServiceUrl(const std::string& key, const std::string& value, const Fail& fail) {
  std::unique_ptr<CURLU, CurlUrlFree> url(curl_url());
  char* scheme = nullptr;
  char* host = nullptr;
  const bool parsed = url && curl_url_set(url.get(), CURLUPART_URL, value.c_str(), 0) == CURLUE_OK &&
                      curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                      curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
  std::unique_ptr<char, CurlTextFree> ownedScheme(scheme), ownedHost(host);
  if (!parsed) fail("[oauth2] " + key + " is not a URL: '" + value + "'");
  const std::string h = host;
  const bool loopback = h == "127.0.0.1" || h == "localhost" || h == "[::1]";
  if (std::string(scheme) != "https" && !(std::string(scheme) == "http" && loopback)) {
    fail("[oauth2] " + key + " must start with https:// (http:// only for 127.0.0.1)");
  }
}

// Built-in providers and the rules of the [oauth2] section.
void CheckOAuth2(Config& config, const Environment& environment, const Fail& fail) {
  OAuth2Settings& o = config.oauth2;
  if (config.UsesOAuth2() && !o.present) fail("auth = oauth2 needs an [oauth2] section");
  if (!o.present) return;
  if (!config.UsesOAuth2()) {
    config.warnings.push_back("[oauth2] is set, but neither [smtp] nor [imap] has auth = oauth2 with transport = "
                              "smtp+imap; it is not used");
  }
  if (std::optional<std::string> secret = environment("LVEMAILACCESS_OAUTH2_CLIENT_SECRET"); secret && !secret->empty()) {
    o.clientSecret = *secret;
    o.clientSecretSource = "LVEMAILACCESS_OAUTH2_CLIENT_SECRET";
  } else if (!o.clientSecret.empty()) {
    o.clientSecretSource = "the file";
  }
  const bool anyUrl = !o.authorizeUrl.empty() || !o.tokenUrl.empty() || !o.deviceUrl.empty();
  if (!o.tokenCommand.empty()) {
    if (!o.provider.empty() || !o.clientId.empty() || !o.clientSecret.empty() || anyUrl || !o.tenant.empty() ||
        !o.scope.empty()) {
      fail("[oauth2] token_command replaces the sign-in: set either token_command or provider with its settings");
    }
    return;
  }
  if (o.provider.empty()) fail("[oauth2] needs provider = microsoft, google or custom (or token_command =)");
  if (o.clientId.empty()) fail("[oauth2] client_id is required");
  if (!o.tenant.empty() && o.provider != "microsoft") fail("[oauth2] tenant is for provider = microsoft only");
  if (o.provider == "custom") {
    if (o.tokenUrl.empty()) fail("[oauth2] provider = custom needs token_url");
    if (o.authorizeUrl.empty() == o.deviceUrl.empty()) {
      fail("[oauth2] provider = custom needs either device_url (sign-in with a code) or authorize_url (sign-in in "
           "a browser on this computer), not both");
    }
    CheckServiceUrl("token_url", o.tokenUrl, fail);
    if (!o.authorizeUrl.empty()) CheckServiceUrl("authorize_url", o.authorizeUrl, fail);
    if (!o.deviceUrl.empty()) CheckServiceUrl("device_url", o.deviceUrl, fail);
    return;
  }
  if (anyUrl) fail("[oauth2] authorize_url, token_url and device_url are for provider = custom");
  if (o.provider == "microsoft") {
    if (o.tenant.empty()) o.tenant = "organizations";
    const std::string base = "https://login.microsoftonline.com/" + o.tenant + "/oauth2/v2.0/";
    o.tokenUrl = base + "token";
    o.deviceUrl = base + "devicecode";
    CheckServiceUrl("tenant", o.tokenUrl, fail);
    if (o.scope.empty()) {
      o.scope = "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access";
    }
  } else if (o.provider == "google") {
    o.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
    o.tokenUrl = "https://oauth2.googleapis.com/token";
    if (o.scope.empty()) o.scope = "https://mail.google.com/";
    if (o.clientSecret.empty()) {
      fail("[oauth2] provider = google needs client_secret (or LVEMAILACCESS_OAUTH2_CLIENT_SECRET)");
    }
  } else {
    fail("[oauth2] unknown provider '" + o.provider + "' (microsoft, google or custom)");
  }
}

bool ParseYesNo(const std::string& value, bool& out) {
  if (value == "yes" || value == "true" || value == "1") {
    out = true;
  } else if (value == "no" || value == "false" || value == "0") {
    out = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

bool SplitCommandLine(std::string_view text, std::vector<std::string>& words) {
  words.clear();
  bool inWord = false, quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      if (!inWord) words.emplace_back();
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      inWord = false;
    } else {
      if (!inWord) words.emplace_back();
      inWord = true;
      words.back() += c;
    }
  }
  return !quoted;
}

bool IsUsableImapFolderName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7f || c == ';') return false;
  }
  return true;
}

Config DefaultConfig(const std::string& programDir) {
  Config config;
  config.source = kEmbeddedDefault;
  config.programDir = programDir;
  config.senderName = "LvMAPI";
  config.senderAddress = "lvmapi@localhost";
  config.transport = kTransportMaildir;
  config.maildir.outbox = Resolve(programDir, "Mail/Outbox");
  config.maildir.inbox = Resolve(programDir, "Mail/Inbox");
  config.maildir.processed = Resolve(programDir, "Mail/Processed");
  config.maildir.skipped = Resolve(programDir, "Mail/Skipped");
  config.maildir.undeliverable = Resolve(programDir, "Mail/Undeliverable");
  config.maildir.needsReading = Resolve(programDir, "Mail/Needs reading");
  config.smtp.queue = Resolve(programDir, "Mail/Queue");
  config.imap.processed = "Processed";
  config.imap.skipped = "Skipped";
  config.imap.undeliverable = "Undeliverable";
  config.imap.needsReading = "Needs reading";
  return config;
}

namespace {

// One setter per known key ("section.key"), each storing its value into
// `config` or refusing it through `fail`; the table is the whole vocabulary of
// the file.
using Setter = std::function<void(const std::string& key, const std::string& value)>;
using SettingTable = std::map<std::string, Setter>;

// Makes the setters of the table. Each setter keeps what it needs by value
// (the member it sets is the caller's Config, which outlives the table).
class SetterMaker {
 public:
  SetterMaker(Config& config, std::string programDir, Fail fail)
      : m_config(&config), m_programDir(std::move(programDir)), m_fail(std::move(fail)) {}

  Setter Path(std::string& member) const {
    return [&member, dir = m_programDir, fail = m_fail](const std::string& key, const std::string& v) {
      if (v.empty()) fail(key + ": a folder name is required");
      member = Resolve(dir, v);
    };
  }
  Setter Plain(std::string& member) const {
    return [&member](const std::string&, const std::string& v) { member = v; };
  }
  // A secret: the file must then be readable by its owner only.
  Setter Password(std::string& member) const {
    return [&member, config = m_config](const std::string&, const std::string& v) {
      member = v;
      config->holdsPassword = config->holdsPassword || !v.empty();
    };
  }
  Setter ServerFolder(std::string& member) const {
    return [&member, fail = m_fail](const std::string& key, const std::string& v) {
      if (!IsUsableImapFolderName(v)) fail(key + " must be a folder name of printable ASCII characters without ';'");
      member = v;
    };
  }
  Setter Number(int& member, int low, int high) const {
    return [&member, low, high, fail = m_fail](const std::string& key, const std::string& v) {
      int value = -1;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
      if (ec != std::errc() || end != v.data() + v.size() || value < low || value > high) {
        fail(key + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
      }
      member = value;
    };
  }
  Setter Auth(bool& oauth2) const {
    return [&oauth2, fail = m_fail](const std::string& key, const std::string& v) {
      if (v != "password" && v != "oauth2") fail(key + " must be password or oauth2");
      oauth2 = v == "oauth2";
    };
  }
  // Any OAuth 2.0 setting makes the [oauth2] section count as given.
  Setter OAuth2(std::string& member) const {
    return [&member, config = m_config](const std::string&, const std::string& v) {
      member = v;
      config->oauth2.present = true;
    };
  }
  Setter YesNo(bool& member) const {
    return [&member, fail = m_fail](const std::string& key, const std::string& v) {
      if (!ParseYesNo(v, member)) fail(key + " must be yes or no");
    };
  }

 private:
  Config* m_config;
  std::string m_programDir;
  Fail m_fail;
};

SettingTable SettingsOf(Config& config, const std::string& programDir, const Fail& fail) {
  const SetterMaker make(config, programDir, fail);
  return {
      {"general.sender", [&config, fail](const std::string&, const std::string& v) { SetSender(config, v, fail); }},
      {"general.transport",
       [&config, fail](const std::string&, const std::string& v) {
         if (v != kTransportMaildir && v != kTransportSmtpImap && v != kTransportOutlook) {
           fail("unknown transport '" + v + "' (maildir, smtp+imap or outlook)");
         }
         config.transport = v;
       }},
      {"general.lock_wait_seconds", make.Number(config.lockWaitSeconds, 0, 3600)},
      {"maildir.outbox", make.Path(config.maildir.outbox)},
      {"maildir.inbox", make.Path(config.maildir.inbox)},
      {"maildir.processed", make.Path(config.maildir.processed)},
      {"maildir.skipped", make.Path(config.maildir.skipped)},
      {"maildir.undeliverable", make.Path(config.maildir.undeliverable)},
      {"maildir.needs_reading", make.Path(config.maildir.needsReading)},
      {"smtp.url", make.Plain(config.smtp.url)},
      {"smtp.user", make.Plain(config.smtp.user)},
      {"smtp.password", make.Password(config.smtp.password)},
      {"smtp.queue", make.Path(config.smtp.queue)},
      {"smtp.auth", make.Auth(config.smtp.oauth2)},
      {"imap.auth", make.Auth(config.imap.oauth2)},
      {"oauth2.provider", make.OAuth2(config.oauth2.provider)},
      {"oauth2.tenant", make.OAuth2(config.oauth2.tenant)},
      {"oauth2.client_id", make.OAuth2(config.oauth2.clientId)},
      {"oauth2.client_secret",
       [&config](const std::string&, const std::string& v) {
         config.oauth2.clientSecret = v;
         config.oauth2.present = true;
         config.holdsPassword = config.holdsPassword || !v.empty();
       }},
      {"oauth2.authorize_url", make.OAuth2(config.oauth2.authorizeUrl)},
      {"oauth2.token_url", make.OAuth2(config.oauth2.tokenUrl)},
      {"oauth2.device_url", make.OAuth2(config.oauth2.deviceUrl)},
      {"oauth2.scope", make.OAuth2(config.oauth2.scope)},
      {"oauth2.token_command",
       [&config, fail](const std::string& key, const std::string& v) {
         if (!SplitCommandLine(v, config.oauth2.tokenCommand)) fail(key + " has an unclosed '\"'");
         config.oauth2.present = true;
       }},
      {"imap.url", make.Plain(config.imap.url)},
      {"imap.user", make.Plain(config.imap.user)},
      {"imap.password", make.Password(config.imap.password)},
      {"imap.processed", make.ServerFolder(config.imap.processed)},
      {"imap.skipped", make.ServerFolder(config.imap.skipped)},
      {"imap.undeliverable", make.ServerFolder(config.imap.undeliverable)},
      {"imap.needs_reading", make.ServerFolder(config.imap.needsReading)},
      {"tls.required", make.YesNo(config.tls.required)},
      {"tls.verify", make.YesNo(config.tls.verify)},
      {"tls.ca_file",
       [&config, programDir](const std::string&, const std::string& v) {
         config.tls.caFile = v.empty() ? v : Resolve(programDir, v);
       }},
      {"network.timeout_seconds", make.Number(config.network.timeoutSeconds, 1, 3600)},
      {"network.retries", make.Number(config.network.retries, 0, 10)},
      {"network.retry_wait_ms", make.Number(config.network.retryWaitMs, 0, 600000)},
  };
}

// Hands every setting of `text` to its setter in `keys`, counting lines in
// `lineNumber` so that a refusal names the line.
void ReadSettingLines(std::string_view text, const SettingTable& keys, Config& config, int& lineNumber,
                      const Fail& fail) {
  std::string section;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    // Names are handed on as C strings: a NUL would silently cut them short.
    if (line.find('\0') != std::string_view::npos) fail("a NUL byte has no place in a setting");
    if (line.front() == '[') {
      if (line.back() != ']') fail("a section line must end with ']'");
      section = std::string(Trim(line.substr(1, line.size() - 2)));
      if (section == "oauth2") config.oauth2.present = true;
      const bool known = std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return k.first.rfind(section + ".", 0) == 0; });
      if (!known) fail("unknown section [" + section + "]");
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) fail("expected 'key = value'");
    if (section.empty()) fail("a setting must follow a [section] line");
    const std::string key = std::string(Trim(line.substr(0, equals)));
    auto setter = keys.find(section + "." + key);
    if (setter == keys.end()) fail("unknown setting '" + key + "' in [" + section + "]");
    setter->second(key, std::string(Trim(line.substr(equals + 1))));
  }
}

}  // namespace

Config ParseConfig(std::string_view text, const std::string& programDir, const std::string& sourceName,
                   const Environment& environment) {
  Config config = DefaultConfig(programDir);
  config.source = sourceName;
  int lineNumber = 0;
  const Fail fail = [&](const std::string& why) {
    throw ConfigError(sourceName + (lineNumber > 0 ? ", line " + std::to_string(lineNumber) : "") + ": " + why);
  };
  ReadSettingLines(text, SettingsOf(config, programDir, fail), config, lineNumber, fail);
  lineNumber = 0;
  if (config.transport == kTransportSmtpImap) CheckMailServers(config, environment, fail);
  CheckOAuth2(config, environment, fail);
  return config;
}

LocalMail SystemLocalMail() {
  if (!platform::AutomationAvailable()) return LocalMail::Folders;
  return platform::AutomationServerInstalled("Outlook.Application") ? LocalMail::Outlook : LocalMail::None;
}

Config ConfigWithoutFile(const std::string& programDir, LocalMail local) {
  Config config = DefaultConfig(programDir);
  switch (local) {
    case LocalMail::Folders: break;
    case LocalMail::Outlook: config.transport = kTransportOutlook; break;
    case LocalMail::None:
      // Mail delivered into local folders here would reach no one while
      // every log said "sent".
      throw ConfigError("no mail provider is set up: there is no " + config.FileBesideProgram(kConfigFileName) +
                        " and no Outlook on this computer; copy " + config.FileBesideProgram(kConfigExampleName) +
                        " to " + kConfigFileName + " and fill in the mail part");
  }
  return config;
}

Config LoadConfig(const std::string& programDir, const Environment& environment) {
  const std::string path = programDir + kConfigFileName;
  if (!platform::FileExists(path)) return ConfigWithoutFile(programDir, SystemLocalMail());
  std::string text, error;
  if (!platform::ReadWholeFile(path, text, &error)) throw ConfigError(error);
  Config config = ParseConfig(text, programDir, path, environment);
  if (config.holdsPassword && platform::OthersMayRead(path)) {
    config.warnings.push_back(path + " holds a password and can be read by others than its owner; make it "
                              "readable by its owner only (chmod 600)");
  }
  return config;
}

}  // namespace emailaccess
