#include "emailaccess/pace.h"

#include "platform/clock.h"
#include "platform/files.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace emailaccess {
namespace {

constexpr std::int64_t kDay = 24LL * 3600;
// A provider that asks to slow down without a window of ours to go by is
// given this long.
constexpr std::int64_t kThrottleWithoutWindow = 60;
constexpr std::string_view kHeldUntil = "held until ";

bool ReadNumber(std::string_view text, long long& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

struct Preset {
  const char* name;
  Pace pace;
};

// The limits the providers publish for one mailbox.
const Preset kPresets[] = {
    {"unpaced", {}},
    {"microsoft365", {30, 60, 10000, "Microsoft 365"}},
    {"google", {0, 0, 2000, "Google Workspace"}},
    {"google-trial", {0, 0, 500, "Google Workspace"}},
};

}  // namespace

std::string Pace::Told() const {
  if (!paced()) return "unpaced";
  if (seconds == 60) return std::to_string(messages) + " a minute";
  return std::to_string(messages) + " every " + std::to_string(seconds) + " s";
}

bool ParsePace(std::string_view text, Pace& pace, std::string& error) {
  for (const Preset& preset : kPresets) {
    if (text == preset.name) {
      pace = preset.pace;
      return true;
    }
  }
  const size_t per = text.find(" per ");
  long long messages = 0, seconds = 0;
  if (per == std::string_view::npos || !ReadNumber(text.substr(0, per), messages) ||
      !ReadNumber(text.substr(per + 5), seconds) || messages < 1 || messages > 100000 || seconds < 1 ||
      seconds > 86400) {
    error = "pace must be \"unpaced\", \"microsoft365\", \"google\", \"google-trial\" or \"N per S\" (N messages, 1 "
            "to 100000, in S seconds, 1 to 86400), not \"" + std::string(text) + "\"";
    return false;
  }
  pace = {static_cast<int>(messages), static_cast<int>(seconds), 0, ""};
  return true;
}

SlidingWindow::SlidingWindow(Pace pace, std::string_view history) : m_pace(std::move(pace)) {
  size_t start = 0;
  while (start < history.size()) {
    size_t end = history.find('\n', start);
    if (end == std::string_view::npos) end = history.size();
    std::string_view line = history.substr(start, end - start);
    start = end + 1;
    long long when = 0;
    if (line.substr(0, kHeldUntil.size()) == kHeldUntil) {
      line.remove_prefix(kHeldUntil.size());
      const size_t blank = line.find(' ');
      const std::string_view why = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
      if (ReadNumber(line.substr(0, blank), when)) {
        Hold(when, why.substr(0, 5) == "quota" ? Holdback::Quota : Holdback::Throttled);
      }
    } else if (ReadNumber(line, when)) {
      m_sent.push_back(when);
    }
  }
  // A clock set back may have left them out of order.
  std::sort(m_sent.begin(), m_sent.end());
  while (!m_sent.empty() && m_sent.front() <= m_sent.back() - kDay) m_sent.pop_front();
}

std::int64_t SlidingWindow::FreeAfter(int count, std::int64_t seconds) const {
  if (count <= 0 || static_cast<int>(m_sent.size()) < count) return 0;
  // Times are kept in whole seconds, the provider counts to the instant: a
  // message noted at 10 may have gone at 10.9, so its slot frees a second
  // later than the note says, never earlier.
  return m_sent[m_sent.size() - count] + seconds + 1;
}

std::int64_t SlidingWindow::NextSendAllowed(std::int64_t now) const {
  return std::max({now, m_heldUntil, FreeAfter(m_pace.messages, m_pace.seconds), FreeAfter(m_pace.perDay, kDay)});
}

Holdback SlidingWindow::HeldBy(std::int64_t now) const {
  const std::int64_t next = NextSendAllowed(now);
  if (next <= now) return Holdback::None;
  if (m_heldUntil == next) return m_holdWhy;
  return FreeAfter(m_pace.perDay, kDay) == next ? Holdback::DayCap : Holdback::Window;
}

void SlidingWindow::Note(std::int64_t now) {
  m_sent.push_back(now);
  while (!m_sent.empty() && m_sent.front() <= now - kDay) m_sent.pop_front();
}

void SlidingWindow::Hold(std::int64_t until, Holdback why) {
  if (until <= m_heldUntil) return;
  m_heldUntil = until;
  m_holdWhy = why;
}

void SlidingWindow::HoldForQuota(std::int64_t now) {
  const auto oldest = std::find_if(m_sent.begin(), m_sent.end(), [&](std::int64_t t) { return t > now - kDay; });
  Hold(oldest == m_sent.end() ? now + kDay : *oldest + kDay, Holdback::Quota);
}

void SlidingWindow::HoldForThrottling(std::int64_t now, int askedSeconds) {
  const std::int64_t window = m_pace.paced() ? m_pace.seconds : kThrottleWithoutWindow;
  Hold(now + std::max<std::int64_t>(window, askedSeconds), Holdback::Throttled);
}

std::int64_t SlidingWindow::AllGoneBy(std::int64_t now, int count) const {
  SlidingWindow ahead = *this;
  std::int64_t last = now;
  for (int i = 0; i < count; ++i) {
    last = ahead.NextSendAllowed(last);
    ahead.Note(last);
  }
  return last;
}

std::string SlidingWindow::Save() const {
  std::string text = "# LVEmailAccess pace: when messages went out (seconds since 1970), and until when sending is held\n";
  if (m_heldUntil > 0) {
    text += std::string(kHeldUntil) + std::to_string(m_heldUntil) +
            (m_holdWhy == Holdback::Quota ? " quota used up\n" : " throttled\n");
  }
  for (std::int64_t when : m_sent) text += std::to_string(when) + "\n";
  return text;
}

SlidingWindow LoadWindow(const Pace& pace, const std::string& path) {
  std::string history;
  if (!platform::ReadWholeFile(path, history)) history.clear();
  return SlidingWindow(pace, history);
}

std::string LocalClockIn(std::int64_t seconds) {
  platform::CalendarTime now;
  if (!platform::LocalNow(now)) return "in about " + std::to_string((seconds + 59) / 60) + " minutes";
  const std::int64_t minutes = now.hour * 60 + now.minute + (seconds + 59) / 60;
  const std::int64_t days = minutes / 1440;
  char clock[8];
  std::snprintf(clock, sizeof clock, "%02d:%02d", static_cast<int>(minutes % 1440 / 60), static_cast<int>(minutes % 60));
  if (days == 0) return clock;
  return std::string(clock) + (days == 1 ? " tomorrow" : " in " + std::to_string(days) + " days");
}

}  // namespace emailaccess
