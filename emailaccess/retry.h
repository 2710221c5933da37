// The one rule for trying again, for every connection the program makes: a
// failure that may pass by itself (a server out of reach for a moment, a
// connection dropped, a mailbox busy) is tried again up to `retries` more
// times ([network] retries), waiting `retryWaitMs` before the first retry
// and twice as long before each further one; every wait is logged with what
// failed and why. A failure that will not pass is never tried again.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/transport.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

namespace emailaccess {

// Thrown by an attempt whose failure may pass: `action` failed ("IMAP
// imap://host/: fetching UID 4"), `why` says how. Should one escape (an
// attempt that threw it on its last chance), it is a temporary failure.
// A server that says how long to wait (HTTP's Retry-After) gives `waitMs`,
// which then replaces the rule's wait before this retry.
class TryAgain : public TransportError {
 public:
  TryAgain(std::string action, std::string why, FailureScope scope, int waitMs = -1)
      : TransportError(action + " failed for now: " + why, true, scope),
        action(std::move(action)),
        why(std::move(why)),
        waitMs(waitMs) {}
  std::string action;
  std::string why;
  int waitMs;  // -1: the rule's own wait
};

// Runs `attempt(number, last)` (number 0 first; `last` true when no retry
// may follow, so that the attempt throws its final error instead of
// TryAgain) until it returns, and returns what it returns.
template <typename Attempt>
auto WithRetries(const NetworkSettings& network, EventLog& log, Attempt attempt) -> decltype(attempt(0, true)) {
  int waitMs = network.retryWaitMs;
  for (int number = 0;; ++number) {
    try {
      return attempt(number, number >= network.retries);
    } catch (const TryAgain& failure) {
      if (number >= network.retries) throw;  // an attempt that ignored `last`
      const int thisWaitMs = failure.waitMs >= 0 ? failure.waitMs : waitMs;
      log.Info(failure.action + " failed for now (" + failure.why + "), trying again in " +
               std::to_string(thisWaitMs) + " ms");
      std::this_thread::sleep_for(std::chrono::milliseconds(thisWaitMs));
      waitMs *= 2;
    }
  }
}

}  // namespace emailaccess
