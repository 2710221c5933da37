#include "emailaccess/config.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/signin/providers.h"
#include "emailaccess/urls.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "util/command_words.h"
#include "util/text_files.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <memory>

namespace emailaccess {
namespace {

std::string Resolve(const std::string& programDir, const std::string& folder) {
  std::string path = folder;
  // "Mail /" is "Mail": a folder name ending in a blank could not even be
  // written in this file, whose values lose their trailing blanks.
  while (path.size() > 1 && (path.back() == '/' || path.back() == ' ' || path.back() == '\t')) path.pop_back();
  return platform::IsAbsolutePath(path) ? platform::NativeSeparators(path) : platform::JoinPath(programDir, path);
}

using Fail = SettingFailure;

void SetSender(Config& config, const std::string& text, const Fail& fail) {
  Mailbox sender;
  if (!ParseMailbox(text, sender)) fail("sender is not an address: '" + text + "'");
  config.senderName = sender.name;
  config.senderAddress = sender.address;
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

// Filing into the mailbox itself, or two kinds of message into one folder,
// would mix what the intake keeps apart.
void CheckFoldersDiffer(const ImapSettings& imap, const Fail& fail) {
  static constexpr const char* kCounts[] = {"zero", "one", "two", "three", "four", "five", "six", "seven", "eight"};
  static_assert(kFolders.size() + 1 < std::size(kCounts), "a word for every count of folders");
  std::set<std::string> folders = {imap.mailbox};
  std::string keys;
  for (size_t i = 0; i < kFolders.size(); ++i) {
    folders.insert(imap.folders[kFolders[i].folder]);
    keys += std::string(i == 0 ? "" : i + 1 == kFolders.size() ? " and " : ", ") + kFolders[i].settingKey;
  }
  if (folders.size() != kFolders.size() + 1) {
    fail("[imap] the mailbox, " + keys + " must be " + kCounts[kFolders.size() + 1] + " different folders");
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
  CheckFoldersDiffer(imap, fail);

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

// --- transport = graph -------------------------------------------------

// What transport = graph needs: an HTTPS service, folders apart from one
// another, and a sign-in (checked with [oauth2] below).
void CheckGraph(Config& config, const Environment&, const Fail& fail) {
  GraphSettings& graph = config.graph;
  while (graph.url.size() > 1 && graph.url.back() == '/') graph.url.pop_back();
  graph.host = CheckServiceUrl("url", graph.url, fail, "graph", false);
  // Folder names of a mailbox are the same whatever their letter case.
  const auto lower = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  std::set<std::string> folders = {"inbox"};
  for (const FolderInfo& info : kFolders) folders.insert(lower(graph.folders[info.folder]));
  if (folders.size() != kFolders.size() + 1) fail("[graph] the folders must differ from one another and from Inbox");
  if (!config.oauth2.present) {
    fail("transport = graph signs in with OAuth 2.0: add an [oauth2] section (provider = microsoft, client_id =)");
  }
  if (!config.tls.caFile.empty() && !platform::FileExists(config.tls.caFile)) {
    fail("[tls] ca_file " + config.tls.caFile + " does not exist");
  }
  if (!config.tls.verify) {
    config.warnings.push_back("certificates are not verified ([tls] verify = no): anyone between here and Microsoft "
                              "Graph can pose as it and take the access token");
  }
}

// A folder name beside the Inbox: any text of one line.
void SetGraphFolder(std::string& member, const std::string& key, const std::string& value, const Fail& fail) {
  const bool oneLine = std::none_of(value.begin(), value.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
  if (value.empty() || !oneLine) fail("[graph] " + key + " must be a folder name on one line");
  member = value;
}

// --- end of transport = graph ---------------------------------------------

// Built-in providers and the rules of the [oauth2] section.
void CheckOAuth2(Config& config, const Environment& environment, const Fail& fail) {
  OAuth2Settings& o = config.oauth2;
  if (config.UsesOAuth2() && !o.present) fail("auth = oauth2 needs an [oauth2] section");
  if (!o.present) return;
  if (!config.UsesOAuth2()) {
    config.warnings.push_back("[oauth2] is set, but neither [smtp] nor [imap] has auth = oauth2 with transport = "
                              "smtp+imap, and the transport is not graph; it is not used");
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
  const std::optional<ProviderEndpoints> known =
      KnownProvider(o.provider, o.tenant.empty() ? kDefaultTenant : o.tenant);
  if (!known) fail("[oauth2] unknown provider '" + o.provider + "' (microsoft, google or custom)");
  if (known->usesTenant) {
    if (o.tenant.empty()) o.tenant = kDefaultTenant;
    CheckServiceUrl("tenant", known->tokenUrl, fail);
  }
  o.authorizeUrl = known->authorizeUrl;
  o.tokenUrl = known->tokenUrl;
  o.deviceUrl = known->deviceUrl;
  if (config.transport == kTransportGraph) {
    if (known->graphScope.empty()) fail("transport = graph needs [oauth2] provider = microsoft (or custom)");
    if (o.scope.empty()) o.scope = known->graphScope;
  }
  if (o.scope.empty()) o.scope = known->scope;
  if (known->needsClientSecret && o.clientSecret.empty()) {
    fail("[oauth2] provider = " + o.provider + " needs client_secret (or LVEMAILACCESS_OAUTH2_CLIENT_SECRET)");
  }
}

// The transports the settings may name, each with what checks and completes
// its own settings once the file is read (transports.h opens them).
struct TransportSettings {
  const char* name;
  void (*complete)(Config& config, const Environment& environment, const Fail& fail);  // null: nothing to check
};

constexpr TransportSettings kTransportSettings[] = {
    {kTransportMaildir, nullptr},
    {kTransportSmtpImap, &CheckMailServers},
    {kTransportOutlook, nullptr},
    {kTransportGraph, &CheckGraph},
};

const TransportSettings* TransportSettingsOf(const std::string& name) {
  for (const TransportSettings& transport : kTransportSettings) {
    if (name == transport.name) return &transport;
  }
  return nullptr;
}

// "maildir, smtp+imap or outlook"
std::string TransportNames() {
  std::string names;
  const size_t count = std::size(kTransportSettings);
  for (size_t i = 0; i < count; ++i) {
    names += std::string(i == 0 ? "" : i + 1 == count ? " or " : ", ") + kTransportSettings[i].name;
  }
  return names;
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

Config DefaultConfig(const std::string& programDir) {
  Config config;
  config.source = kEmbeddedDefault;
  config.programDir = programDir;
  config.senderName = "LvMAPI";
  config.senderAddress = "lvmapi@localhost";
  config.transport = kTransportMaildir;
  config.maildir.outbox = Resolve(programDir, "Mail/Outbox");
  config.maildir.inbox = Resolve(programDir, "Mail/Inbox");
  config.smtp.queue = Resolve(programDir, "Mail/Queue");
  config.graph.url = kDefaultGraphUrl;
  for (const FolderInfo& folder : kFolders) {
    config.maildir.folders[folder.folder] = Resolve(programDir, std::string("Mail/") + folder.name);
    config.imap.folders[folder.folder] = folder.name;
    config.graph.folders[folder.folder] = folder.name;
  }
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
  SettingTable table = {
      {"general.sender", [&config, fail](const std::string&, const std::string& v) { SetSender(config, v, fail); }},
      {"general.transport",
       [&config, fail](const std::string&, const std::string& v) {
         if (!TransportSettingsOf(v)) fail("unknown transport '" + v + "' (" + TransportNames() + ")");
         config.transport = v;
       }},
      {"general.lock_wait_seconds", make.Number(config.lockWaitSeconds, 0, 3600)},
      {"maildir.outbox", make.Path(config.maildir.outbox)},
      {"maildir.inbox", make.Path(config.maildir.inbox)},
      {"smtp.url", make.Plain(config.smtp.url)},
      {"smtp.user", make.Plain(config.smtp.user)},
      {"smtp.password", make.Password(config.smtp.password)},
      {"smtp.queue", make.Path(config.smtp.queue)},
      {"smtp.pace",
       [&config, fail](const std::string&, const std::string& v) {
         std::string why;
         if (!ParsePace(v, config.smtp.pace, why)) fail(why);
         config.smtp.paceSet = true;
       }},
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
         if (!command_words::Split(v, config.oauth2.tokenCommand)) fail(key + " has an unclosed '\"'");
         config.oauth2.present = true;
       }},
      {"imap.url", make.Plain(config.imap.url)},
      {"imap.user", make.Plain(config.imap.user)},
      {"imap.password", make.Password(config.imap.password)},
      {"tls.required", make.YesNo(config.tls.required)},
      {"tls.verify", make.YesNo(config.tls.verify)},
      {"tls.ca_file",
       [&config, programDir](const std::string&, const std::string& v) {
         config.tls.caFile = v.empty() ? v : Resolve(programDir, v);
       }},
      {"network.timeout_seconds", make.Number(config.network.timeoutSeconds, 1, 3600)},
      {"network.retries", make.Number(config.network.retries, 0, 10)},
      {"network.retry_wait_ms", make.Number(config.network.retryWaitMs, 0, 600000)},
      {"replies.keep_sent_days", make.Number(config.replies.keepSentDays, 1, 3650)},
      {"replies.size_limit_mb", make.Number(config.replies.sizeLimitMb, 1, 2000)},
      {"replies.authserv_id", make.Plain(config.replies.authservId)},
      // How a mailing is kept from reaching anyone twice.
      {"smtp.daily_limit", make.Number(config.smtp.dailyLimit, 0, 1000000)},
      {"mailings.remind_after_days", make.Number(config.mailings.remindAfterDays, 1, 365)},
  };
  for (const FolderInfo& folder : kFolders) {
    table.emplace(std::string("maildir.") + folder.settingKey, make.Path(config.maildir.folders[folder.folder]));
    table.emplace(std::string("imap.") + folder.settingKey, make.ServerFolder(config.imap.folders[folder.folder]));
  }
  // transport = graph
  table.emplace("graph.url", make.Plain(config.graph.url));
  for (const FolderInfo& folder : kFolders) {
    std::string& member = config.graph.folders[folder.folder];
    table.emplace(std::string("graph.") + folder.settingKey,
                  [&member, fail](const std::string& key, const std::string& v) { SetGraphFolder(member, key, v, fail); });
  }
  return table;
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
    std::string_view line = TrimBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    // Names are handed on as C strings: a NUL would silently cut them short.
    if (line.find('\0') != std::string_view::npos) fail("a NUL byte has no place in a setting");
    if (line.front() == '[') {
      if (line.back() != ']') fail("a section line must end with ']'");
      section = std::string(TrimBlanks(line.substr(1, line.size() - 2)));
      if (section == "oauth2") config.oauth2.present = true;
      const bool known = std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return k.first.rfind(section + ".", 0) == 0; });
      if (!known) fail("unknown section [" + section + "]");
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) fail("expected 'key = value'");
    if (section.empty()) fail("a setting must follow a [section] line");
    const std::string key = std::string(TrimBlanks(line.substr(0, equals)));
    auto setter = keys.find(section + "." + key);
    if (setter == keys.end()) fail("unknown setting '" + key + "' in [" + section + "]");
    setter->second(key, std::string(TrimBlanks(line.substr(equals + 1))));
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
  // Exchange Online takes 30 messages a minute from a mailbox, whichever road
  // they come by: a mailing through Graph keeps to it unless the settings
  // say otherwise.
  if (config.transport == kTransportGraph && !config.smtp.paceSet) {
    std::string why;
    ParsePace("microsoft365", config.smtp.pace, why);
  }
  // Said after the pace or before it, the account's own day cap wins over its preset's.
  if (config.smtp.dailyLimit >= 0) config.smtp.pace.perDay = config.smtp.dailyLimit;
  if (const auto complete = TransportSettingsOf(config.transport)->complete) complete(config, environment, fail);
  CheckOAuth2(config, environment, fail);
  return config;
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

Config LoadConfig(const std::string& programDir, const std::function<LocalMail()>& localMail,
                  const Environment& environment) {
  const std::string path = programDir + kConfigFileName;
  if (!platform::FileExists(path)) return ConfigWithoutFile(programDir, localMail());
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
