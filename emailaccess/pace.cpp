#include "emailaccess/pace.h"

#include "platform/clock.h"

#include <charconv>
#include <cstdio>

namespace emailaccess {
namespace {

bool ReadNumber(std::string_view text, long long& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string Pace::Told() const {
  if (!paced()) return "unpaced";
  if (seconds == 60) return std::to_string(messages) + " a minute";
  return std::to_string(messages) + " every " + std::to_string(seconds) + " s";
}

bool ParsePace(std::string_view text, Pace& pace, std::string& error) {
  if (text == "unpaced") {
    pace = {};
    return true;
  }
  // Microsoft 365: 30 messages a minute from one mailbox.
  if (text == "microsoft365") {
    pace = {30, 60};
    return true;
  }
  const size_t per = text.find(" per ");
  long long messages = 0, seconds = 0;
  if (per == std::string_view::npos || !ReadNumber(text.substr(0, per), messages) ||
      !ReadNumber(text.substr(per + 5), seconds) || messages < 1 || messages > 100000 || seconds < 1 ||
      seconds > 86400) {
    error = "pace must be \"unpaced\", \"microsoft365\" or \"N per S\" (N messages, 1 to 100000, in S seconds, 1 to "
            "86400), not \"" + std::string(text) + "\"";
    return false;
  }
  pace = {static_cast<int>(messages), static_cast<int>(seconds)};
  return true;
}

SlidingWindow::SlidingWindow(Pace pace, std::string_view history) : m_pace(pace) {
  size_t start = 0;
  while (start < history.size()) {
    size_t end = history.find('\n', start);
    if (end == std::string_view::npos) end = history.size();
    long long when = 0;
    if (ReadNumber(history.substr(start, end - start), when)) Note(when);
    start = end + 1;
  }
}

bool SlidingWindow::Allows(std::int64_t now) const {
  if (!m_pace.paced() || static_cast<int>(m_sent.size()) < m_pace.messages) return true;
  return m_sent.front() + m_pace.seconds <= now;
}

void SlidingWindow::Note(std::int64_t now) {
  if (!m_pace.paced()) return;
  m_sent.push_back(now);
  while (static_cast<int>(m_sent.size()) > m_pace.messages) m_sent.pop_front();
}

std::int64_t SlidingWindow::AllGoneBy(std::int64_t now, int count) const {
  SlidingWindow ahead = *this;
  std::int64_t last = now;
  for (int i = 0; i < count; ++i) {
    if (!ahead.Allows(last)) last = ahead.m_sent.front() + m_pace.seconds;
    ahead.Note(last);
  }
  return last;
}

std::string SlidingWindow::Save() const {
  std::string text;
  for (std::int64_t when : m_sent) text += std::to_string(when) + "\n";
  return text;
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
