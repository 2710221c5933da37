// The mailings this program sent: each message's Message-ID with its
// recipient, subject and the time it was composed. A delivery report is told
// apart from one about other mail by the Message-ID it returns, and a reply
// is tied to the message it answers by the same Message-ID in its
// In-Reply-To or References: the Message-ID carries a key of its own, drawn
// from the system's random source, which only the recipient has seen. So
// the list is kept as long as replies may still come (a setting, 400 days
// unless the settings say otherwise), far longer than any server goes on
// trying to deliver.
//
// The file is "LVEmailAccess.sent" beside the program, readable by its
// owner only (it names who was sent what), one message per line, "seconds
// since 1970<TAB>Message-ID<TAB>recipient<TAB>subject", the fields escaped as
// in the intake state file. Every write drops what is older than the time
// kept and replaces the file in one step, so a crash leaves the old or the
// new list. Loading never throws (a damaged line is reported and left out:
// its report is still known by its subject); saving throws
// std::runtime_error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emailaccess {

inline constexpr const char kSentRegisterFileName[] = "LVEmailAccess.sent";
inline constexpr int kSentKeptDays = 400;
inline constexpr std::int64_t kSecondsPerDay = 24LL * 3600;

struct SentMailing {
  std::int64_t sentAt = 0;  // seconds since 1970 (UTC)
  std::string messageId;    // without angle brackets
  std::string recipient;
  std::string subject;

  bool operator==(const SentMailing&) const = default;
};

// A missing file holds none. Damaged lines are described in `problems`.
std::vector<SentMailing> LoadSentMailings(const std::string& path, std::vector<std::string>& problems);

// Adds `added` to the file, keeping only what was sent in the `keptDays`
// days up to `now`.
void RecordSentMailings(const std::string& path, const std::vector<SentMailing>& added, std::int64_t now,
                        int keptDays = kSentKeptDays);

}  // namespace emailaccess
