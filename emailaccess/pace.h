// How fast one account may send: so many messages per period, counted over a
// sliding window of the times messages really went out.
//
// Providers throttle or refuse a sender that goes faster than they allow
// (Microsoft 365 takes 30 messages a minute from one mailbox); a mailing
// that keeps to the window is never throttled, and what the window does not
// allow now waits in the queue for a later run. The times are kept in a small
// file beside the program, so that runs following each other count together.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace emailaccess {

// Beside the program: when the last messages went out.
inline constexpr const char kPaceFileName[] = "LVEmailAccess.pace";

struct Pace {
  int messages = 0;  // at most this many ...
  int seconds = 0;   // ... in any stretch of this many seconds; 0 messages: unpaced
  bool paced() const { return messages > 0; }
  // "30 a minute", "10 every 6 s", for the log.
  std::string Told() const;
};

// A pace setting: "unpaced", a provider's preset ("microsoft365": 30 a
// minute), or "N per S" (N messages per S seconds). False, with the reason in
// `error`, for anything else.
bool ParsePace(std::string_view text, Pace& pace, std::string& error);

class SlidingWindow {
 public:
  // `history` is what Save wrote before (unix seconds, one a line); lines
  // that are not a time are left out.
  SlidingWindow(Pace pace, std::string_view history);

  // True when a message may go out at `now` (unix seconds).
  bool Allows(std::int64_t now) const;
  // A message went out at `now`.
  void Note(std::int64_t now);
  // When `count` more messages can all have gone out, sent as fast as the
  // window allows from `now` on.
  std::int64_t AllGoneBy(std::int64_t now, int count) const;
  // The times that still count, for the next run.
  std::string Save() const;

 private:
  Pace m_pace;
  std::deque<std::int64_t> m_sent;  // oldest first, at most m_pace.messages
};

// When `seconds` from now is on the local clock, as the office reads it:
// "10:42", "09:15 tomorrow", "09:15 in 3 days".
std::string LocalClockIn(std::int64_t seconds);

}  // namespace emailaccess
