// Requests to Microsoft Graph, the REST service of the Microsoft 365
// mailbox, for the sender and the store of transport = graph.
//
// Each request goes over one CurlSession (HTTPS only, the program's TLS
// settings and time limits, the connection kept open between requests) with
// the run's bearer token, and asks for immutable ids (Prefer:
// IdType="ImmutableId"), so a message keeps its id when it is moved. JSON is
// read and written with nlohmann-json. What Graph answers decides:
//  * 2xx: done; any other status the caller names as expected is handed
//    back too (404 for a message that is gone);
//  * 401: one renewed token and one retry, then LoginError "sign in again";
//  * 403: LoginError naming the permission the request needs (Mail.Send):
//    a setting of the app registration, not something a retry mends;
//  * 429 and 502/503/504: tried again after the wait Graph names in
//    Retry-After (up to kLongestServerWait; a longer one is not waited for)
//    or the retry rule's own (retry.h), then a temporary TransportError of
//    the connection (exit 75: the next run completes it); a sending that
//    Graph throttles is SendingHeld at once, so the rest waits in the queue
//    for the pace's window or the Retry-After, whichever is longer;
//  * a connection that fails is tried again by the retry rule, except for a
//    hand-over (a message sent) whose body went out whole: its answer is
//    lost, and it is AnswerLost, never sent again;
//  * anything else: a lasting TransportError with Graph's own code and
//    message ({"error": {"code", "message"}}).
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/graph/graph_answers.h"
#include "emailaccess/signin/curl_session.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace emailaccess {

// The longest Retry-After the program waits for; Graph asking for more
// makes the run end as a temporary failure.
inline constexpr int kLongestServerWait = 60;  // seconds

// How many requests Graph takes in one $batch.
inline constexpr size_t kRequestsPerBatch = 20;

// The Prefer header that keeps a message's id when it moves.
inline constexpr const char kImmutableIds[] = "Prefer: IdType=\"ImmutableId\"";

struct GraphRequest {
  std::string method = "GET";  // GET, POST or PATCH
  std::string target;          // below the service ("/me/messages"), or a whole URL (an @odata.nextLink)
  std::string body;
  std::string contentType = "application/json";
  std::vector<std::string> headers;  // further "Name: value" lines
};

struct GraphResponse {
  long status = 0;
  std::string body;
};

class GraphClient {
 public:
  GraphClient(const Config& config, EventLog& log);

  enum class Kind {
    Repeatable,  // may be sent again when its answer is lost
    HandOver,    // hands a message over: never sent twice; throttling is SendingHeld
  };

  // Sends `request`; `action` describes it for messages ("listing the
  // Inbox"), `permission` names what it needs ("Mail.ReadWrite"). Returns
  // the answer of a 2xx status or of one in `expected`. Throws as the
  // header says.
  GraphResponse Call(const std::string& action, const GraphRequest& request, const char* permission,
                     Kind kind = Kind::Repeatable, std::initializer_list<long> expected = {});
  // Call, with the answer read as JSON (a lasting TransportError when it is not).
  nlohmann::json CallJson(const std::string& action, const GraphRequest& request, const char* permission,
                          std::initializer_list<long> expected = {});

  // Hands every item of every page of the listing at `target` on to `each`,
  // following @odata.nextLink, until `each` says false (stop: the rest is not
  // asked for). A link back to a page read before is a lasting
  // TransportError (it would never end). Returns the pages read.
  int EachItem(const std::string& action, std::string target, const char* permission,
               const std::function<bool(const nlohmann::json&)>& each);

  // `text` escaped for one segment of a URL path or a query value.
  std::string Escaped(const std::string& text);

  // Sends the items (at most kRequestsPerBatch) in one $batch and fills in
  // their answers. Items Graph throttled or found unavailable are sent
  // again, in a batch of their own, after the wait it names (bounded like
  // Call); those still refused keep their status for the caller.
  void Batch(const std::string& action, std::vector<BatchItem*>& items, const char* permission);

  // "Microsoft Graph https://graph.microsoft.com/v1.0", for messages.
  const std::string& name() const { return m_name; }
  const std::string& host() const { return m_host; }
  CurlSession& session() { return *m_session; }
  // Requests made so far, for the log.
  int requests() const { return m_requests; }

 private:
  std::string Url(const std::string& target) const;

  const Config& m_config;
  EventLog& m_log;
  std::string m_url;
  std::string m_host;
  std::string m_name;
  std::unique_ptr<CurlSession> m_session;
  int m_requests = 0;
};

}  // namespace emailaccess
