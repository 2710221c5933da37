#include "emailaccess/config.h"

#include "emailaccess/compose.h"
#include "platform/files.h"

#include <charconv>
#include <functional>
#include <map>

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
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return !path.empty() && path[0] == '/' ? path : programDir + path;
}

void SetSender(Config& config, const std::string& text, const std::function<void(const std::string&)>& fail) {
  Mailbox sender;
  if (!ParseMailbox(text, sender)) fail("sender is not an address: '" + text + "'");
  config.senderName = sender.name;
  config.senderAddress = sender.address;
}

}  // namespace

Config DefaultConfig(const std::string& programDir) {
  Config config;
  config.source = "embedded default";
  config.programDir = programDir;
  config.senderName = "LvMAPI";
  config.senderAddress = "lvmapi@localhost";
  config.transport = "maildir";
  config.maildir.outbox = Resolve(programDir, "Mail/Outbox");
  config.maildir.inbox = Resolve(programDir, "Mail/Inbox");
  config.maildir.processed = Resolve(programDir, "Mail/Processed");
  config.maildir.skipped = Resolve(programDir, "Mail/Skipped");
  return config;
}

Config ParseConfig(std::string_view text, const std::string& programDir, const std::string& sourceName) {
  Config config = DefaultConfig(programDir);
  config.source = sourceName;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    throw ConfigError(sourceName + ", line " + std::to_string(lineNumber) + ": " + why);
  };

  // One setter per known key; the table is the whole vocabulary of the file.
  using Setter = std::function<void(const std::string&)>;
  auto folder = [&](std::string MaildirSettings::*member) {
    return Setter([&, member](const std::string& v) {
      if (v.empty()) fail("a folder name is required");
      config.maildir.*member = Resolve(programDir, v);
    });
  };
  const std::map<std::string, Setter> keys = {
      {"general.sender", [&](const std::string& v) { SetSender(config, v, fail); }},
      {"general.transport",
       [&](const std::string& v) {
         if (v != "maildir") fail("unknown transport '" + v + "' (this build knows: maildir)");
         config.transport = v;
       }},
      {"general.lock_wait_seconds",
       [&](const std::string& v) {
         int seconds = -1;
         auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
         if (ec != std::errc() || end != v.data() + v.size() || seconds < 0 || seconds > 3600) {
           fail("lock_wait_seconds must be a whole number from 0 to 3600");
         }
         config.lockWaitSeconds = seconds;
       }},
      {"maildir.outbox", folder(&MaildirSettings::outbox)},
      {"maildir.inbox", folder(&MaildirSettings::inbox)},
      {"maildir.processed", folder(&MaildirSettings::processed)},
      {"maildir.skipped", folder(&MaildirSettings::skipped)},
  };

  std::string section;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') fail("a section line must end with ']'");
      section = std::string(Trim(line.substr(1, line.size() - 2)));
      if (section != "general" && section != "maildir") fail("unknown section [" + section + "]");
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) fail("expected 'key = value'");
    if (section.empty()) fail("a setting must follow a [section] line");
    const std::string key = std::string(Trim(line.substr(0, equals)));
    auto setter = keys.find(section + "." + key);
    if (setter == keys.end()) fail("unknown setting '" + key + "' in [" + section + "]");
    setter->second(std::string(Trim(line.substr(equals + 1))));
  }
  return config;
}

Config LoadConfig(const std::string& programDir) {
  const std::string path = programDir + kConfigFileName;
  if (!platform::FileExists(path)) return DefaultConfig(programDir);
  std::string text, error;
  if (!platform::ReadWholeFile(path, text, &error)) throw ConfigError(error);
  return ParseConfig(text, programDir, path);
}

}  // namespace emailaccess
