#include "emailaccess/urls.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace emailaccess {
namespace {

struct CurlUrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
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

}  // namespace

UrlParts CheckServerUrl(ServerSettings& server, const std::string& section, const std::vector<std::string>& schemes,
                        const SettingFailure& fail) {
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

std::string CheckServiceUrl(const std::string& key, const std::string& value, const SettingFailure& fail,
                            const std::string& section, bool plainOnLoopback) {
  std::unique_ptr<CURLU, CurlUrlFree> url(curl_url());
  char* scheme = nullptr;
  char* host = nullptr;
  const bool parsed = url && curl_url_set(url.get(), CURLUPART_URL, value.c_str(), 0) == CURLUE_OK &&
                      curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                      curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
  std::unique_ptr<char, CurlTextFree> ownedScheme(scheme), ownedHost(host);
  const std::string named = "[" + section + "] " + key;
  if (!parsed) fail(named + " is not a URL: '" + value + "'");
  const std::string h = host;
  const bool loopback = h == "127.0.0.1" || h == "localhost" || h == "[::1]";
  if (std::string(scheme) != "https" && !(plainOnLoopback && std::string(scheme) == "http" && loopback)) {
    fail(named + " must start with https://" + (plainOnLoopback ? " (http:// only for 127.0.0.1)" : ""));
  }
  return h;
}

bool IsUsableImapFolderName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7f || c == ';') return false;
  }
  return true;
}

}  // namespace emailaccess
