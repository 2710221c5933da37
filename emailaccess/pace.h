// How fast one account may send: so many messages per period, counted over a
// sliding window of the times messages really went out, at most so many in
// any 24 hours, and nothing at all while the provider holds the account's
// sending back.
//
// Providers throttle or refuse a sender that goes faster than they allow
// (Microsoft 365 takes 30 messages a minute from one mailbox and 10,000 a
// day; Google Workspace 2,000 a day, counted over a rolling 24 hours); a
// mailing that keeps to the pace is never throttled, and what the pace does
// not allow now waits in the queue for a later run. The times of the last 24
// hours are kept in a small file beside the program, with when sending is
// held, so that runs following each other count together and none hammers a
// server that has said no.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace emailaccess {

// Beside the program: when the messages of the last 24 hours went out, and
// until when sending is held.
inline constexpr const char kPaceFileName[] = "LVEmailAccess.pace";

struct Pace {
  int messages = 0;      // at most this many ...
  int seconds = 0;       // ... in any stretch of this many seconds; 0 messages: no window
  int perDay = 0;        // at most this many in any 24 hours; 0: no day cap
  std::string provider;  // who sets these limits, for the office: "Microsoft 365"; empty: not known
  bool operator==(const Pace&) const = default;
  bool paced() const { return messages > 0; }
  // It holds anything back: a window or a day cap.
  bool limited() const { return paced() || perDay > 0; }
  // "30 a minute", "10 every 6 s", for the log.
  std::string Told() const;
};

// A pace setting: "unpaced", a provider's preset ("microsoft365": 30 a
// minute and 10,000 a day; "google": 2,000 a day; "google-trial": 500 a day)
// or "N per S" (N messages per S seconds). False, with the reason in
// `error`, for anything else.
bool ParsePace(std::string_view text, Pace& pace, std::string& error);

// What keeps the next message back.
enum class Holdback {
  None,
  Window,     // the pace's window is full
  DayCap,     // the day cap is reached
  Quota,      // the provider said the account's quota is used up
  Throttled,  // the provider asked to slow down
};

class SlidingWindow {
 public:
  // `history` is what Save wrote before; lines that are neither a time nor a
  // hold are left out, so a damaged file can only make a run go slower or
  // faster, never lose a message.
  SlidingWindow(Pace pace, std::string_view history);

  const Pace& pace() const { return m_pace; }
  // True when a message may go out at `now` (unix seconds).
  bool Allows(std::int64_t now) const { return NextSendAllowed(now) <= now; }
  // The earliest time from `now` on when the next message may go: the
  // window, the day cap and a hold all allow it then.
  std::int64_t NextSendAllowed(std::int64_t now) const;
  // What keeps the next message back at `now` (the latest of them to pass).
  Holdback HeldBy(std::int64_t now) const;
  // A message went out at `now`.
  void Note(std::int64_t now);
  // The provider said the account's quota is used up: held until the oldest
  // message of the last 24 hours turns 24 hours old (providers count over a
  // rolling day), or for 24 hours when none is known.
  void HoldForQuota(std::int64_t now);
  // The provider asked to slow down: held for the pace's window, or a
  // minute without one, or for the seconds it asked to wait when longer
  // (`askedSeconds`, -1 when it named none).
  void HoldForThrottling(std::int64_t now, int askedSeconds = -1);
  // When `count` more messages can all have gone out, sent as fast as the
  // pace allows from `now` on.
  std::int64_t AllGoneBy(std::int64_t now, int count) const;
  // The times that still count and the hold, for the next run.
  std::string Save() const;

 private:
  void Hold(std::int64_t until, Holdback why);
  // When the limit of `count` messages in `seconds` lets the next one go.
  std::int64_t FreeAfter(int count, std::int64_t seconds) const;

  Pace m_pace;
  std::deque<std::int64_t> m_sent;  // oldest first, only those of the last 24 hours
  std::int64_t m_heldUntil = 0;
  Holdback m_holdWhy = Holdback::None;
};

// The window kept in `path` (a missing or unreadable file: no history).
SlidingWindow LoadWindow(const Pace& pace, const std::string& path);

// When `seconds` from now is on the local clock, as the office reads it:
// "10:42", "09:15 tomorrow", "09:15 in 3 days".
std::string LocalClockIn(std::int64_t seconds);

}  // namespace emailaccess
