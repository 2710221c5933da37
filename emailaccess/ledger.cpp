#include "emailaccess/ledger.h"

#include "emailaccess/message/text_encoding.h"
#include "emailaccess/offer_state.h"
#include "platform/durable_file.h"

#include <array>
#include <charconv>
#include <stdexcept>

namespace emailaccess {
namespace {

constexpr const char kHeader[] = "# LVEmailAccess ledger: mailing, address, state, round began, state set, queue file\n";
constexpr std::array<const char*, 5> kStateNames = {"queued", "handing-over", "sent", "refused", "answer-lost"};

bool ReadTime(const std::string& text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(text.data(), end, value);
  return parsed.ec == std::errc() && parsed.ptr == end && value >= 0;
}

bool ParseLine(const std::string& line, LedgerEntry& entry) {
  const std::vector<std::string> fields = SplitRecordFields(line);
  if (fields.size() != 6) return false;
  size_t state = 0;
  while (state < kStateNames.size() && fields[2] != kStateNames[state]) ++state;
  if (state == kStateNames.size()) return false;
  entry.state = static_cast<LedgerState>(state);
  return UnescapeRecordField(fields[0], entry.mailing) && !entry.mailing.empty() &&
         UnescapeRecordField(fields[1], entry.address) && !entry.address.empty() &&
         ReadTime(fields[3], entry.roundBegan) && ReadTime(fields[4], entry.stateSet) &&
         UnescapeRecordField(fields[5], entry.queueKey);
}

bool Settled(LedgerState state) {
  return state == LedgerState::Sent || state == LedgerState::Refused || state == LedgerState::AnswerLost;
}

}  // namespace

const char* LedgerStateName(LedgerState state) { return kStateNames[static_cast<size_t>(state)]; }

Ledger::Ledger(std::string path, int roundDays) : m_path(std::move(path)), m_roundSeconds(roundDays * 24LL * 3600) {
  std::vector<std::string> problems;
  const bool read = ReadRecordLines(m_path, problems, [&](const std::string& line) {
    LedgerEntry entry;
    if (!ParseLine(line, entry)) return false;
    m_entries[KeyOf(entry.mailing, entry.address)] = std::move(entry);
    return true;
  });
  if (!read || !problems.empty()) {
    throw std::runtime_error("the ledger of mailings cannot be read (" + problems.front() +
                             "); nothing was sent, so that no one gets a mailing twice: mend or move aside " + m_path +
                             " (moved aside, a mailing sent again reaches everyone again)");
  }
}

std::string Ledger::KeyOf(const std::string& mailing, const std::string& address) {
  // Escaped, the mailing holds no TAB: the key's parts never run together.
  return EscapeRecordField(mailing) + '\t' + AsciiLower(address);
}

bool Ledger::BeginRound(const std::string& mailing, std::int64_t now) {
  std::int64_t began = -1;
  const std::string prefix = EscapeRecordField(mailing) + '\t';
  const auto first = m_entries.lower_bound(prefix);
  for (auto it = first; it != m_entries.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    began = std::max(began, it->second.roundBegan);
  }
  if (began >= 0 && now - began < m_roundSeconds) {
    m_rounds[mailing] = began;
    return false;
  }
  for (auto it = first; it != m_entries.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
    if (Settled(it->second.state)) {
      it = m_entries.erase(it);
    } else {
      it->second.roundBegan = now;
      ++it;
    }
  }
  m_rounds[mailing] = now;
  m_changed = true;
  return true;
}

LedgerEntry* Ledger::Find(const std::string& mailing, const std::string& address) {
  const auto it = m_entries.find(KeyOf(mailing, address));
  return it == m_entries.end() ? nullptr : &it->second;
}

LedgerEntry& Ledger::Set(const std::string& mailing, const std::string& address, LedgerState state, std::int64_t now,
                         std::string queueKey) {
  LedgerEntry& entry = m_entries[KeyOf(mailing, address)];
  if (entry.mailing.empty()) {
    const auto round = m_rounds.find(mailing);
    entry = {mailing, address, state, round == m_rounds.end() ? now : round->second, now, {}};
  }
  Mark(entry, state, now, std::move(queueKey));
  return entry;
}

void Ledger::Mark(LedgerEntry& entry, LedgerState state, std::int64_t now, std::string queueKey) {
  entry.state = state;
  entry.stateSet = now;
  entry.queueKey = std::move(queueKey);
  m_changed = true;
}

void Ledger::Remove(const LedgerEntry& entry) {
  m_entries.erase(KeyOf(entry.mailing, entry.address));
  m_changed = true;
}

std::vector<LedgerEntry*> Ledger::Entries() {
  std::vector<LedgerEntry*> all;
  for (auto& [key, entry] : m_entries) all.push_back(&entry);
  return all;
}

void Ledger::Commit(std::int64_t now) {
  if (!m_changed) return;
  std::string text = kHeader;
  for (const auto& [key, e] : m_entries) {
    // Its round is over: a run of the mailing now begins a new one, which
    // leaves it out all the same. Kept, it would only make every write longer.
    if (Settled(e.state) && now - e.roundBegan >= m_roundSeconds) continue;
    text += EscapeRecordField(e.mailing) + '\t' + EscapeRecordField(e.address) + '\t' + LedgerStateName(e.state) + '\t' +
            std::to_string(e.roundBegan) + '\t' + std::to_string(e.stateSet) + '\t' + EscapeRecordField(e.queueKey) +
            '\n';
  }
  std::string why;
  if (!platform::ReplaceFileAtomically(m_path, text, &why, true)) {
    throw std::runtime_error("cannot keep the ledger of mailings " + m_path + ": " + why);
  }
  m_changed = false;
}

}  // namespace emailaccess
