// The URLs and names the settings give for reaching mail: a mail server's
// URL, a token service's URL, a folder name on an IMAP server. Each check
// refuses through `fail` (which throws) with the setting's section and key,
// and never shows what could be a password.
#pragma once

#include "emailaccess/config.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

// Refuses a setting with the reason; never returns.
using SettingFailure = std::function<void(const std::string& why)>;

struct UrlParts {
  std::string base;  // scheme://host[:port]/
  std::string path;  // decoded, without the leading "/"
};

// Checks a server URL and fills in its scheme and host. Credentials, queries
// and fragments have no place in it: a password in a URL ends up in logs.
UrlParts CheckServerUrl(ServerSettings& server, const std::string& section, const std::vector<std::string>& schemes,
                        const SettingFailure& fail);

// A token service is reached over HTTPS; plain HTTP only on this computer,
// where nothing crosses a network (not at all without `plainOnLoopback`).
// `key` names the setting in [`section`]. Returns the URL's host.
std::string CheckServiceUrl(const std::string& key, const std::string& value, const SettingFailure& fail,
                            const std::string& section = "oauth2", bool plainOnLoopback = true);

// A folder name that can be used on an IMAP server: printable ASCII (names
// beyond ASCII would need IMAP's own UTF-7, which is not supported), no ";".
bool IsUsableImapFolderName(std::string_view name);

}  // namespace emailaccess
