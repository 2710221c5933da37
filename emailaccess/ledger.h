// The ledger of mailings: for each mailing and each address, where its
// message stands, so that nobody gets one mailing twice, whoever runs it
// again and whatever cuts a run short.
//
// A mailing is what LvMAPI names in the exchange file ("survey {GUID}",
// "goal {GUID}"), or "operation N " + subject when it names none. Its entry
// for an address (compared without letter case) is queued (with the queue
// file's unique name, so that the queue and the ledger agree; an empty name
// while the file is being written), handing-over (the message is being
// given to the mail system: marked before every hand-over, so that a run
// killed in the middle leaves a trace), sent, refused (nobody got it; a later
// run tries again) or answer-lost (handed over, the answer never came:
// probably delivered). Each entry keeps when its mailing's round began: a
// run of the same mailing within the round sends only to addresses that
// have none of it yet, a run after it begins a new round, which reaches
// everyone listed again.
//
// The file is "LVEmailAccess.ledger" beside the program, readable by its
// owner only, one entry per line, "mailing<TAB>address<TAB>state<TAB>round
// began<TAB>state set<TAB>queue file" (times in seconds since 1970, fields
// escaped as in the intake state file), replaced in one step on every
// Commit. Unlike the other record files, a ledger that cannot be read or
// holds a damaged line is refused as a whole (std::runtime_error): going on
// without it could mail someone twice. Settled entries of a round that is
// over are dropped when it is written: they could no longer keep anyone
// from a mailing, and the file stays as short as the mailings of the last
// round's days, which every message's write is as long as.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

inline constexpr const char kLedgerFileName[] = "LVEmailAccess.ledger";

enum class LedgerState { Queued, HandingOver, Sent, Refused, AnswerLost };

// "queued", "handing-over", "sent", "refused", "answer-lost".
const char* LedgerStateName(LedgerState state);

struct LedgerEntry {
  std::string mailing;
  std::string address;  // as listed
  LedgerState state = LedgerState::Queued;
  std::int64_t roundBegan = 0;  // seconds since 1970 (UTC)
  std::int64_t stateSet = 0;
  std::string queueKey;  // the queue file's unique name, once it went into the queue; empty while being written

  bool operator==(const LedgerEntry&) const = default;
  // The address already has the message or has it coming.
  bool HasIt() const { return state != LedgerState::Refused; }
};

class Ledger {
 public:
  // Reads the ledger at `path`, whose mailings' rounds last `roundDays`
  // days; a missing file holds none. Throws std::runtime_error, naming the
  // file and the line, for one that cannot be read or is damaged.
  Ledger(std::string path, int roundDays);

  const std::string& path() const { return m_path; }

  // Begins a new round of `mailing` at `now` unless its round began less
  // than the round's days before. True for a new round: its settled entries
  // go, while those still queued keep their place in the queue and count
  // for the new round (they have it coming).
  bool BeginRound(const std::string& mailing, std::int64_t now);
  std::int64_t roundSeconds() const { return m_roundSeconds; }

  // The entry of `mailing` for `address`, or null.
  LedgerEntry* Find(const std::string& mailing, const std::string& address);
  // Sets the entry of `mailing` for `address` to `state` at `now`, making it
  // in the mailing's current round when there is none.
  LedgerEntry& Set(const std::string& mailing, const std::string& address, LedgerState state, std::int64_t now,
                   std::string queueKey = {});
  // Sets an entry found before to `state` at `now`.
  void Mark(LedgerEntry& entry, LedgerState state, std::int64_t now, std::string queueKey = {});
  // Removes an entry found before.
  void Remove(const LedgerEntry& entry);

  // Every entry, for walking through (in mailing order).
  std::vector<LedgerEntry*> Entries();

  // Writes the entries when anything changed since the last Commit, in one
  // atomic replace. Throws std::runtime_error when it cannot.
  void Commit(std::int64_t now);
  bool changed() const { return m_changed; }

 private:
  static std::string KeyOf(const std::string& mailing, const std::string& address);

  std::string m_path;
  std::int64_t m_roundSeconds;
  std::map<std::string, LedgerEntry> m_entries;  // by mailing and address in lower case
  std::map<std::string, std::int64_t> m_rounds;  // when each mailing's round began, once BeginRound has seen it
  bool m_changed = false;
};

}  // namespace emailaccess
