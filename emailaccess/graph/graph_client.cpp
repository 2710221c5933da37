#include "emailaccess/graph/graph_client.h"

#include "emailaccess/retry.h"
#include "emailaccess/signin/oauth2.h"
#include "emailaccess/transport.h"

#include <algorithm>
#include <set>

namespace emailaccess {
namespace {

using nlohmann::json;

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

void Append(Slist& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) throw TransportError("cannot set up a request: out of memory", false);
  list.release();
  list.reset(grown);
}

struct CurlTextFree {
  void operator()(char* text) const { curl_free(text); }
};

bool IsBusy(long status) { return status == 429 || status == 502 || status == 503 || status == 504; }

}  // namespace

GraphClient::GraphClient(const Config& config, EventLog& log)
    : m_config(config), m_log(log), m_url(config.graph.url), m_host(config.graph.host) {
  ServerSettings server;
  server.url = m_url;
  server.scheme = "https";
  server.host = m_host;
  server.oauth2 = true;
  server.tokens = config.graph.tokens;
  m_session = std::make_unique<CurlSession>(server, config.tls, config.network, "https", true, log);
  m_name = "Microsoft Graph " + m_url;
}

std::string GraphClient::Url(const std::string& target) const {
  if (target.rfind("https://", 0) != 0 && target.rfind("http://", 0) != 0) return m_url + target;
  // A link Graph gave (the next page) carries the token along: it must lead
  // back to the same service.
  if (target.rfind(m_url + "/", 0) != 0) {
    throw TransportError(m_name + " gave a link to another service (" + target + "); not followed", false,
                         FailureScope::Connection);
  }
  return target;
}

GraphResponse GraphClient::Call(const std::string& action, const GraphRequest& request, const char* permission,
                                Kind kind, std::initializer_list<long> expected) {
  const std::string url = Url(request.target);
  Slist headers;
  Append(headers, kImmutableIds);
  Append(headers, "Expect:");  // the body goes at once, without waiting for "100 Continue"
  if (request.method != "GET") Append(headers, "Content-Type: " + request.contentType);
  for (const std::string& header : request.headers) Append(headers, header);
  const auto prepare = [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (request.method == "GET") {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
      if (request.method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
  };
  return WithRetries(m_config.network, m_log, [&](int, bool last) -> GraphResponse {
    m_session->EnsureSignedIn();
    ++m_requests;
    CurlResult result = m_session->Perform(prepare, true);
    // A refused token may have been revoked early: one renewal, one retry.
    if (result.code == CURLE_OK && result.response == 401 && m_config.graph.tokens && m_config.graph.tokens->Renew()) {
      ++m_requests;
      result = m_session->Perform(prepare, true);
    }
    const std::string what = m_name + ": " + action;
    if (result.code != CURLE_OK) {
      curl_off_t uploaded = 0;
      curl_easy_getinfo(m_session->handle(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
      if (kind == Kind::HandOver && !request.body.empty() && uploaded >= static_cast<curl_off_t>(request.body.size())) {
        throw AnswerLost(what + ": the message went out whole, but the answer was lost (" + result.error +
                         "); it is probably delivered and is not sent again");
      }
      const FailureKind failure = ClassifyFailure(result.code, 0, std::string());
      const bool temporary = failure == FailureKind::ConnectionTemporary || failure == FailureKind::MessageTemporary;
      if (!temporary || last) m_session->Throw(action, result, failure);
      throw TryAgain(what, result.error, FailureScope::Connection);
    }
    const long status = result.response;
    if ((status >= 200 && status < 300) || std::find(expected.begin(), expected.end(), status) != expected.end()) {
      return GraphResponse{status, std::move(result.body)};
    }
    const std::string said = GraphErrorText(status, result.body);
    if (status == 401) {
      throw LoginError(what + " was refused: the sign-in is no longer accepted (" + said +
                       "); sign in again (LVEmailAccess --authorize)");
    }
    if (status == 403) {
      throw LoginError(what + " was refused (" + said + "): the sign-in lacks the permission " + permission +
                       "; grant it to the app registration (delegated Microsoft Graph permissions), then sign in "
                       "again (LVEmailAccess --authorize)");
    }
    if (IsBusy(status)) {
      const int seconds = RetryAfterSeconds(result.transcript);
      const std::string wait = seconds >= 0 ? "; it asks to wait " + std::to_string(seconds) + " s" : "";
      if (kind == Kind::HandOver && status == 429) {
        throw SendingHeld(what + ": Microsoft Graph throttles the sending (" + said + wait + ")",
                          SendingHeld::Why::Throttled, "Microsoft Graph asks to send more slowly", seconds);
      }
      if (last || seconds > kLongestServerWait) {
        throw TransportError(what + " failed for now (" + said + wait + "); the next run goes on", true,
                             FailureScope::Connection);
      }
      throw TryAgain(what, said, FailureScope::Connection, seconds >= 0 ? seconds * 1000 : -1);
    }
    throw TransportError(what + " failed: " + said, false);
  });
}

json GraphClient::CallJson(const std::string& action, const GraphRequest& request, const char* permission,
                           std::initializer_list<long> expected) {
  const GraphResponse response = Call(action, request, permission, Kind::Repeatable, expected);
  json answer = json::parse(response.body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    throw TransportError(m_name + ": " + action + ": the answer (HTTP " + std::to_string(response.status) +
                             ") is not a JSON object",
                         false);
  }
  return answer;
}

int GraphClient::EachItem(const std::string& action, std::string target, const char* permission,
                          const std::function<bool(const json&)>& each) {
  std::set<std::string> seen;
  int pages = 0;
  while (!target.empty()) {
    if (!seen.insert(target).second) {
      throw TransportError(m_name + ": " + action + ": the next page leads back to one read before", false,
                           FailureScope::Connection);
    }
    const json page = CallJson(action, {"GET", target, "", "", {}}, permission);
    ++pages;
    if (page.contains("value") && page["value"].is_array()) {
      for (const json& item : page["value"]) {
        if (!each(item)) return pages;
      }
    }
    target = JsonText(page, "@odata.nextLink");
  }
  return pages;
}

std::string GraphClient::Escaped(const std::string& text) {
  std::unique_ptr<char, CurlTextFree> escaped(
      curl_easy_escape(m_session->handle(), text.data(), static_cast<int>(text.size())));
  if (!escaped) throw TransportError("cannot set up a request: out of memory", false);
  return escaped.get();
}

void GraphClient::Batch(const std::string& action, std::vector<BatchItem*>& items, const char* permission) {
  std::vector<BatchItem*> pending = items;
  WithRetries(m_config.network, m_log, [&](int, bool last) {
    json requests = json::array();
    for (size_t i = 0; i < pending.size(); ++i) {
      json one = {{"id", std::to_string(i)},
                  {"method", pending[i]->method},
                  {"url", pending[i]->target},
                  {"headers", {{"Prefer", "IdType=\"ImmutableId\""}}}};
      if (!pending[i]->body.is_null()) {
        one["body"] = pending[i]->body;
        one["headers"]["Content-Type"] = "application/json";
      }
      requests.push_back(std::move(one));
    }
    const json answer =
        CallJson(action, {"POST", "/$batch", json{{"requests", requests}}.dump(), "application/json", {}}, permission);
    ReadBatchAnswers(answer, pending);
    std::vector<BatchItem*> busy;
    int seconds = -1;
    for (BatchItem* item : pending) {
      if (item->status != 0 && !IsBusy(item->status)) continue;
      busy.push_back(item);
      seconds = std::max(seconds, item->retryAfterSeconds);
    }
    if (busy.empty() || last || seconds > kLongestServerWait) return;
    pending = busy;
    throw TryAgain(m_name + ": " + action, std::to_string(busy.size()) + " request(s) of the batch throttled or unavailable",
                   FailureScope::Message, seconds >= 0 ? seconds * 1000 : -1);
  });
}

}  // namespace emailaccess
