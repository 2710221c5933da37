#include "emailaccess/signin/authorize.h"

#include "emailaccess/signin/oauth2.h"
#include "emailaccess/signin/token_store.h"
#include "emailaccess/transport.h"
#include "platform/loopback.h"
#include "util/dates.h"

#include <curl/curl.h>
#include <glib.h>

#include <chrono>
#include <ostream>
#include <random>
#include <stdexcept>
#include <thread>

namespace emailaccess {
namespace {

constexpr const char kDeviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";
// How long the browser's return is waited for.
constexpr std::chrono::seconds kBrowserWait(300);

// Unreserved URL characters drawn from the system's random source: the PKCE
// verifier and the state.
std::string RandomText(size_t length) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string text;
  for (size_t i = 0; i < length; ++i) text += kAlphabet[pick(random)];
  return text;
}

std::string UrlEncoded(const std::string& value) {
  char* escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
  std::string text = escaped ? escaped : "";
  curl_free(escaped);
  return text;
}

std::string Said(const TokenAnswer& answer) {
  return answer.error + (answer.errorDescription.empty() ? "" : ": " + answer.errorDescription);
}

// Saves a granted sign-in and tells the person what it is.
void Keep(const Config& config, EventLog& log, std::ostream& out, const TokenAnswer& answer) {
  if (!answer.error.empty()) throw std::runtime_error("the sign-in was refused (" + Said(answer) + ")");
  if (answer.accessToken.empty() || answer.refreshToken.empty()) {
    throw std::runtime_error("the token service gave no " +
                             std::string(answer.accessToken.empty() ? "access token" : "refresh token") +
                             "; check [oauth2] scope (Microsoft needs offline_access)");
  }
  const std::string path = config.FileBesideProgram(kTokenFileName);
  const StoredTokens saved = SaveGrant(path, config.oauth2, answer, StoredTokens());
  const std::string until = saved.expiresAt ? FormatLocalDateTime(saved.expiresAt) : "not stated";
  log.Info("signed in at " + config.oauth2.tokenUrl + "; sign-in saved in " + path + ", scopes " + saved.scope);
  out << "Signed in. The sign-in is saved in " << path << " (readable by its owner only).\n"
      << "Scopes: " << (saved.scope.empty() ? "not stated" : saved.scope) << "\nAccess token valid until " << until
      << "; it is renewed by itself.\n";
}

void DeviceFlow(const Config& config, EventLog& log, std::ostream& out) {
  const OAuth2Settings& settings = config.oauth2;
  const TokenService service(settings, config.network);
  const TokenAnswer start = service.Post(settings.deviceUrl, {{"scope", settings.scope}});
  if (!start.error.empty()) throw std::runtime_error("the sign-in could not start (" + Said(start) + ")");
  if (start.deviceCode.empty() || start.userCode.empty() || start.verificationUri.empty()) {
    throw std::runtime_error("the device endpoint " + settings.deviceUrl + " gave no code to enter");
  }
  out << "To sign in, open " << start.verificationUri << " in a browser (on any device)\nand enter the code "
      << start.userCode << "\nWaiting for the sign-in ..." << std::endl;
  log.Info("sign-in started at " + settings.deviceUrl + "; waiting for the code to be entered");
  auto interval = std::chrono::seconds(start.interval.value_or(5));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(start.expiresIn.value_or(900));
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(interval);
    const TokenAnswer answer =
        service.Post(settings.tokenUrl, {{"grant_type", kDeviceGrant}, {"device_code", start.deviceCode}});
    if (answer.error == "authorization_pending") continue;
    if (answer.error == "slow_down") {
      interval += std::chrono::seconds(5);
      continue;
    }
    if (answer.error == "expired_token") break;
    Keep(config, log, out, answer);
    return;
  }
  throw std::runtime_error("the code expired before the sign-in was completed; run LVEmailAccess --authorize again");
}

void BrowserFlow(const Config& config, EventLog& log, std::ostream& out) {
  const OAuth2Settings& settings = config.oauth2;
  platform::LoopbackListener listener;
  std::string why;
  if (!listener.Open(&why)) throw std::runtime_error(why);
  const std::string redirect = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
  const std::string verifier = RandomText(64), state = RandomText(32);
  std::string url = settings.authorizeUrl + (settings.authorizeUrl.find('?') == std::string::npos ? "?" : "&") +
                    "response_type=code&client_id=" + UrlEncoded(settings.clientId) +
                    "&redirect_uri=" + UrlEncoded(redirect) + "&scope=" + UrlEncoded(settings.scope) +
                    "&state=" + state + "&code_challenge=" + PkceChallenge(verifier) + "&code_challenge_method=S256";
  // Google hands out a refresh token only when asked for offline access.
  if (settings.provider == "google") url += "&access_type=offline&prompt=consent";
  out << "To sign in, open this address in a browser on this computer:\n\n" << url << "\n\nWaiting up to "
      << kBrowserWait.count() << " seconds for the sign-in ..." << std::endl;
  log.Info("sign-in started at " + settings.authorizeUrl + "; waiting for the browser on 127.0.0.1:" +
           std::to_string(listener.port()));
  std::string target;
  const std::string page =
      "<!DOCTYPE html><html><body><p>LVEmailAccess has the answer of the sign-in. The terminal shows the "
      "result; this window can be closed.</p></body></html>";
  if (!listener.ReceiveOne(kBrowserWait, page, target, &why)) throw std::runtime_error("the sign-in ended: " + why);
  if (QueryValue(target, "state") != state) {
    throw std::runtime_error("the browser's answer does not belong to this sign-in (state differs); nothing saved");
  }
  if (const std::string error = QueryValue(target, "error"); !error.empty()) {
    throw std::runtime_error("the sign-in was refused (" + error + ")");
  }
  const std::string code = QueryValue(target, "code");
  if (code.empty()) throw std::runtime_error("the browser's answer holds no code; nothing saved");
  const TokenService service(settings, config.network);
  Keep(config, log, out,
       service.Post(settings.tokenUrl, {{"grant_type", "authorization_code"},
                                        {"code", code},
                                        {"redirect_uri", redirect},
                                        {"code_verifier", verifier}}));
}

}  // namespace

std::string PkceChallenge(const std::string& verifier) {
  guint8 digest[32];
  gsize length = sizeof digest;
  GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA256);
  g_checksum_update(checksum, reinterpret_cast<const guchar*>(verifier.data()), static_cast<gssize>(verifier.size()));
  g_checksum_get_digest(checksum, digest, &length);
  g_checksum_free(checksum);
  gchar* base64 = g_base64_encode(digest, length);
  std::string text = base64;
  g_free(base64);
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  text.erase(text.find_last_not_of('=') + 1);
  return text;
}

std::string QueryValue(const std::string& target, const std::string& name) {
  const size_t question = target.find('?');
  if (question == std::string::npos) return {};
  size_t pos = question + 1;
  while (pos <= target.size()) {
    size_t end = target.find('&', pos);
    if (end == std::string::npos) end = target.size();
    const std::string pair = target.substr(pos, end - pos);
    const size_t equals = pair.find('=');
    if (pair.substr(0, equals) == name && equals != std::string::npos) {
      std::string value = pair.substr(equals + 1);
      for (char& c : value) c = c == '+' ? ' ' : c;
      int length = 0;
      char* decoded = curl_easy_unescape(nullptr, value.data(), static_cast<int>(value.size()), &length);
      std::string text = decoded ? std::string(decoded, static_cast<size_t>(length)) : std::string();
      curl_free(decoded);
      return text;
    }
    pos = end + 1;
  }
  return {};
}

void Authorize(const Config& config, EventLog& log, std::ostream& out) {
  if (config.oauth2.UsesDeviceFlow()) {
    DeviceFlow(config, log, out);
  } else {
    BrowserFlow(config, log, out);
  }
}

}  // namespace emailaccess
