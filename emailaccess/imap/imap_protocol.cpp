#include "emailaccess/imap/imap_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "util/dates.h"

namespace emailaccess {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool StartsWithWord(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && Upper(line.substr(0, word.size())) == word &&
         (line.size() == word.size() || line[word.size()] == ' ');
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// Reads the quoted string that starts at text[pos] (a '"'), undoing its
// backslash escapes, and leaves `pos` just past the closing quote.
std::string ReadQuoted(std::string_view text, size_t& pos) {
  std::string value;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
    value += text[pos];
  }
  ++pos;
  return value;
}

// Reads IMAP values one at a time: atoms, numbers, quoted strings and
// parenthesised lists (returned whole, with their parentheses). It only
// views the text: the text must outlive it.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : m_text(text) {}

  std::optional<std::string> Next() {
    while (m_pos < m_text.size() && m_text[m_pos] == ' ') ++m_pos;
    if (m_pos >= m_text.size()) return std::nullopt;
    const char c = m_text[m_pos];
    if (c == '"') return ReadQuoted(m_text, m_pos);
    const size_t start = m_pos;
    if (c == '(') {
      int depth = 0;
      bool quoted = false;
      for (; m_pos < m_text.size(); ++m_pos) {
        const char d = m_text[m_pos];
        if (quoted) {
          if (d == '\\') ++m_pos;
          else if (d == '"') quoted = false;
        } else if (d == '"') {
          quoted = true;
        } else if (d == '(') {
          ++depth;
        } else if (d == ')' && --depth == 0) {
          ++m_pos;
          break;
        }
      }
      return std::string(m_text.substr(start, m_pos - start));
    }
    while (m_pos < m_text.size() && m_text[m_pos] != ' ' && m_text[m_pos] != ')' && m_text[m_pos] != '(') ++m_pos;
    if (m_pos == start) ++m_pos;  // a stray ")": step over it
    return std::string(m_text.substr(start, m_pos - start));
  }

 private:
  std::string_view m_text;
  size_t m_pos = 0;
};

// The inside of the parenthesised list that follows `word` on the line
// ("FETCH (...)", "(UIDVALIDITY 5 ...)").
std::optional<std::string> ListAfter(std::string_view line, size_t from) {
  const size_t open = line.find('(', from);
  if (open == std::string_view::npos) return std::nullopt;
  Tokens tokens(line.substr(open));
  std::optional<std::string> list = tokens.Next();
  if (!list || list->size() < 2) return std::nullopt;
  return list->substr(1, list->size() - (list->back() == ')' ? 2 : 1));
}


// One response of an answer with literals: the text before each literal
// (without its "{n}"), the literal, and the text after the last one.
struct ResponsePart {
  std::string_view text;
  std::optional<std::string_view> literal;
};

// Where the "{n}" (or "{n+}") that ends `line` starts, and n.
std::optional<std::pair<size_t, size_t>> AnnouncedLiteral(std::string_view line) {
  if (line.empty() || line.back() != '}') return std::nullopt;
  const size_t open = line.rfind('{');
  if (open == std::string_view::npos) return std::nullopt;
  std::string_view digits = line.substr(open + 1, line.size() - open - 2);
  if (!digits.empty() && digits.back() == '+') digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 12 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> length = ParseNumber<std::uint64_t>(digits);
  if (!length) return std::nullopt;
  return std::make_pair(open, static_cast<size_t>(*length));
}

// The values of a FETCH response, across its literals: atoms (a section in
// brackets counts as part of its atom), strings (quoted or literal) and
// parentheses.
class FetchValues {
 public:
  enum class Kind { End, Open, Close, Atom, String };
  struct Value {
    Kind kind = Kind::End;
    std::string text;
  };

  explicit FetchValues(const std::vector<ResponsePart>& parts) : m_parts(parts) {}

  Value Next() {
    for (;;) {
      const ResponsePart& part = m_parts[m_part];
      while (m_at < part.text.size() && part.text[m_at] == ' ') ++m_at;
      if (m_at < part.text.size()) break;
      if (part.literal && !m_literalTaken) {
        m_literalTaken = true;
        return {Kind::String, std::string(*part.literal)};
      }
      if (m_part + 1 >= m_parts.size()) return {};
      ++m_part;
      m_at = 0;
      m_literalTaken = false;
    }
    const std::string_view text = m_parts[m_part].text;
    const char c = text[m_at];
    if (c == '(' || c == ')') {
      ++m_at;
      return {c == '(' ? Kind::Open : Kind::Close, {}};
    }
    if (c == '"') return {Kind::String, ReadQuoted(text, m_at)};
    const size_t start = m_at;
    bool inSection = false;
    for (; m_at < text.size(); ++m_at) {
      const char d = text[m_at];
      if (d == '[') inSection = true;
      else if (d == ']') inSection = false;
      else if (!inSection && (d == ' ' || d == '(' || d == ')')) break;
    }
    return {Kind::Atom, std::string(text.substr(start, m_at - start))};
  }

 private:
  const std::vector<ResponsePart>& m_parts;
  size_t m_part = 0;
  size_t m_at = 0;
  bool m_literalTaken = false;
};

// "<tag> OK ...", without its line end.
bool IsTaggedOk(std::string_view line) {
  const size_t blank = line.find(' ');
  return !line.empty() && line[0] != '*' && line[0] != '+' && blank != std::string_view::npos &&
         StartsWithWord(line.substr(blank + 1), "OK");
}

// The UID and text of a "* n FETCH (UID u BODY[] {size} ...)" response.
std::optional<FetchedMessage> ReadFetchedMessage(const std::vector<ResponsePart>& parts) {
  using Kind = FetchValues::Kind;
  FetchValues values(parts);
  const FetchValues::Value star = values.Next();
  const FetchValues::Value sequence = values.Next();
  const FetchValues::Value word = values.Next();
  if (star.text != "*" || !ParseNumber<std::uint32_t>(sequence.text) || Upper(word.text) != "FETCH" ||
      values.Next().kind != Kind::Open) {
    return std::nullopt;
  }
  FetchedMessage message;
  bool hasText = false;
  for (;;) {
    const FetchValues::Value name = values.Next();
    if (name.kind != Kind::Atom) break;
    FetchValues::Value value = values.Next();
    if (value.kind == Kind::Open) {
      // A list (FLAGS): skipped whole.
      for (int depth = 1; depth > 0;) {
        const Kind kind = values.Next().kind;
        if (kind == Kind::End) return std::nullopt;
        depth += kind == Kind::Open ? 1 : kind == Kind::Close ? -1 : 0;
      }
      continue;
    }
    if (value.kind != Kind::Atom && value.kind != Kind::String) break;
    const std::string item = Upper(name.text);
    if (item == "UID" && value.kind == Kind::Atom) {
      message.uid = ParseNumber<std::uint32_t>(value.text).value_or(0);
    } else if (item.rfind("BODY[", 0) == 0 && item.back() == ']' && value.kind == Kind::String) {
      message.text = std::move(value.text);
      hasText = true;
    }
  }
  if (message.uid == 0 || !hasText) return std::nullopt;
  return message;
}

}  // namespace

std::optional<std::string> ImapQuoted(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f) return std::nullopt;
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += static_cast<char>(c);
  }
  return quoted + "\"";
}

std::string ImapUidSet(const std::vector<std::uint32_t>& sortedUids) {
  std::string set;
  for (size_t i = 0; i < sortedUids.size();) {
    size_t j = i;
    while (j + 1 < sortedUids.size() && sortedUids[j + 1] == sortedUids[j] + 1) ++j;
    if (!set.empty()) set += ',';
    set += std::to_string(sortedUids[i]);
    if (j > i) set += ":" + std::to_string(sortedUids[j]);
    i = j + 1;
  }
  return set;
}

std::string FormatImapKey(const ImapKey& key) {
  return key.mailbox + ";UIDVALIDITY=" + std::to_string(key.uidValidity) + ";UID=" + std::to_string(key.uid);
}

std::optional<ImapKey> ParseImapKey(std::string_view text) {
  static constexpr std::string_view kValidity = ";UIDVALIDITY=", kUid = ";UID=";
  const size_t validity = text.rfind(kValidity);
  const size_t uid = text.rfind(kUid);
  if (validity == std::string_view::npos || uid == std::string_view::npos || uid < validity || validity == 0) {
    return std::nullopt;
  }
  ImapKey key;
  key.mailbox = std::string(text.substr(0, validity));
  auto v = ParseNumber<std::uint32_t>(text.substr(validity + kValidity.size(), uid - validity - kValidity.size()));
  auto u = ParseNumber<std::uint32_t>(text.substr(uid + kUid.size()));
  if (!v || !u || *v == 0 || *u == 0) return std::nullopt;
  key.uidValidity = *v;
  key.uid = *u;
  return key;
}

std::vector<std::uint32_t> ParseSearchResponse(std::string_view untagged) {
  std::vector<std::uint32_t> uids;
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* SEARCH")) continue;
    Tokens tokens(line.substr(8));
    while (std::optional<std::string> token = tokens.Next()) {
      if (auto uid = ParseNumber<std::uint32_t>(*token)) uids.push_back(*uid);
    }
  }
  return uids;
}

std::vector<std::uint32_t> ParseEsearchResponse(std::string_view untagged) {
  constexpr size_t kMostUids = 1000000;
  std::vector<std::uint32_t> uids;
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* ESEARCH")) continue;
    Tokens tokens(line.substr(9));
    std::optional<std::string> token;
    while ((token = tokens.Next()) && Upper(*token) != "ALL") {
    }
    const std::optional<std::string> set = tokens.Next();
    if (!token || !set) continue;
    size_t start = 0;
    while (start < set->size()) {
      size_t comma = set->find(',', start);
      if (comma == std::string::npos) comma = set->size();
      const std::string_view range = std::string_view(*set).substr(start, comma - start);
      const size_t colon = range.find(':');
      auto low = ParseNumber<std::uint32_t>(range.substr(0, colon));
      auto high = colon == std::string_view::npos ? low : ParseNumber<std::uint32_t>(range.substr(colon + 1));
      if (low && high) {
        if (*low > *high) std::swap(*low, *high);
        for (std::uint64_t uid = *low; uid <= *high && uids.size() < kMostUids; ++uid) {
          uids.push_back(static_cast<std::uint32_t>(uid));
        }
      }
      start = comma + 1;
    }
  }
  return uids;
}

std::vector<FetchedFlags> ParseFetchResponse(std::string_view untagged) {
  std::vector<FetchedFlags> fetched;
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "*")) continue;
    Tokens head(line.substr(1));
    const std::optional<std::string> sequence = head.Next();
    const std::optional<std::string> word = head.Next();
    if (!sequence || !ParseNumber<std::uint32_t>(*sequence) || !word || Upper(*word) != "FETCH") continue;
    const std::optional<std::string> items = ListAfter(line, 0);
    if (!items) continue;
    FetchedFlags entry;
    Tokens tokens(*items);
    while (std::optional<std::string> name = tokens.Next()) {
      const std::optional<std::string> value = tokens.Next();
      if (!value) break;
      const std::string item = Upper(*name);
      if (item == "UID") {
        entry.uid = ParseNumber<std::uint32_t>(*value).value_or(0);
      } else if (item == "FLAGS" && value->rfind('(', 0) == 0) {
        // Anything but a list (an empty string, say) carries no flags.
        const std::string inside = ListAfter(*value, 0).value_or("");
        Tokens flags(inside);
        while (std::optional<std::string> flag = flags.Next()) entry.seen = entry.seen || Upper(*flag) == "\\SEEN";
      } else if (item == "INTERNALDATE") {
        entry.internalDateNs = ParseInternalDate(*value).value_or(0);
      } else if (item == "RFC822.SIZE") {
        entry.size = ParseNumber<std::uint64_t>(*value).value_or(0);
      }
    }
    if (entry.uid != 0) fetched.push_back(entry);
  }
  return fetched;
}

std::optional<std::vector<FetchedMessage>> ParseFetchedMessages(std::string_view transcript) {
  std::vector<FetchedMessage> messages;
  bool endsTagged = false;
  size_t pos = 0;
  while (pos < transcript.size()) {
    std::vector<ResponsePart> parts;
    for (;;) {
      const size_t newline = transcript.find('\n', pos);
      if (newline == std::string_view::npos) return std::nullopt;  // an unfinished line
      std::string_view line = transcript.substr(pos, newline - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      pos = newline + 1;
      const auto literal = AnnouncedLiteral(line);
      if (!literal) {
        parts.push_back({line, std::nullopt});
        break;
      }
      if (transcript.size() - pos < literal->second) return std::nullopt;  // an unfinished literal
      parts.push_back({line.substr(0, literal->first), transcript.substr(pos, literal->second)});
      pos += literal->second;
    }
    const std::string_view first = parts.front().text;
    endsTagged = parts.size() == 1 && IsTaggedOk(first);
    if (StartsWithWord(first, "*")) {
      if (std::optional<FetchedMessage> message = ReadFetchedMessage(parts)) messages.push_back(std::move(*message));
    }
  }
  if (!endsTagged) return std::nullopt;
  return messages;
}

bool ImapTaggedOk(std::string_view answer) {
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.remove_suffix(1);
  const size_t lineStart = answer.rfind('\n');
  return IsTaggedOk(lineStart == std::string_view::npos ? answer : answer.substr(lineStart + 1));
}

std::optional<size_t> ImapAnswerEnd(std::string_view received, std::string_view tag, size_t& from) {
  for (;;) {
    const size_t newline = received.find('\n', from);
    if (newline == std::string_view::npos) return std::nullopt;
    std::string_view line = received.substr(from, newline - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const auto literal = AnnouncedLiteral(line)) {
      if (received.size() - (newline + 1) < literal->second) return std::nullopt;  // scanned again once it is in
      from = newline + 1 + literal->second;  // the response goes on after it
      continue;
    }
    from = newline + 1;
    if (line.size() > tag.size() && line.substr(0, tag.size()) == tag && line[tag.size()] == ' ') return from;
  }
}

std::optional<std::uint32_t> ParseResponseCode(std::string_view untagged, std::string_view code) {
  const std::string wanted = "[" + Upper(code) + " ";
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* OK")) continue;
    const size_t at = Upper(line).find(wanted);
    if (at == std::string::npos) continue;
    const size_t begin = at + wanted.size();
    const size_t end = line.find(']', begin);
    if (end == std::string_view::npos) continue;
    return ParseNumber<std::uint32_t>(line.substr(begin, end - begin));
  }
  return std::nullopt;
}

std::optional<std::int64_t> ParseInternalDate(std::string_view text) {
  // dd-Mon-yyyy hh:mm:ss +zzzz, the day possibly space-padded.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  static constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const size_t dash1 = text.find('-');
  if (dash1 == std::string_view::npos || text.size() < dash1 + 1 + 3 + 1 + 4 + 1 + 8 + 1 + 5) return std::nullopt;
  const auto day = ParseNumber<int>(text.substr(0, dash1));
  const std::string month = Upper(text.substr(dash1 + 1, 3));
  std::string_view rest = text.substr(dash1 + 4);
  if (rest.size() != 1 + 4 + 1 + 8 + 1 + 5 || rest[0] != '-' || rest[5] != ' ' || rest[8] != ':' || rest[11] != ':' ||
      rest[14] != ' ') {
    return std::nullopt;
  }
  // Digits only: a sign would let "-1" pass as an hour or "-999" as a year.
  const auto digits = [&](size_t at, size_t length) -> std::optional<int> {
    const std::string_view field = rest.substr(at, length);
    if (!std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    return ParseNumber<int>(field);
  };
  const auto year = digits(1, 4);
  const auto hour = digits(6, 2);
  const auto minute = digits(9, 2);
  const auto second = digits(12, 2);
  const char sign = rest[15];
  const auto zone = digits(16, 4);
  const auto monthIndex = std::find(std::begin(kMonths), std::end(kMonths), month) - std::begin(kMonths);
  if (!day || !year || !hour || !minute || !second || !zone || (sign != '+' && sign != '-') || monthIndex >= 12 ||
      *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  const std::int64_t utcSeconds =
      DaysFromCivil(*year, static_cast<unsigned>(monthIndex) + 1, static_cast<unsigned>(*day)) * 86400 +
      *hour * 3600 + *minute * 60 + *second;
  const std::int64_t offset = (*zone / 100 * 3600 + *zone % 100 * 60) * (sign == '-' ? -1 : 1);
  // Nanoseconds in 64 bits reach from 1677 to 2262; a date outside is not
  // given rather than wrapped around.
  std::int64_t nanoseconds = 0;
  if (__builtin_mul_overflow(utcSeconds - offset, 1000000000LL, &nanoseconds)) {
    return std::nullopt;
  }
  return nanoseconds;
}

std::optional<std::uint32_t> ParseStatusValue(std::string_view untagged, std::string_view item) {
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* STATUS")) continue;
    const std::optional<std::string> items = ListAfter(line, line.rfind('('));
    if (!items) continue;
    Tokens tokens(*items);
    while (std::optional<std::string> name = tokens.Next()) {
      const std::optional<std::string> value = tokens.Next();
      if (value && Upper(*name) == Upper(item)) return ParseNumber<std::uint32_t>(*value);
    }
  }
  return std::nullopt;
}

std::set<std::string> ParseCapabilities(std::string_view untagged) {
  std::set<std::string> capabilities;
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* CAPABILITY")) continue;
    Tokens tokens(line.substr(12));
    while (std::optional<std::string> token = tokens.Next()) capabilities.insert(Upper(*token));
  }
  return capabilities;
}

bool ListResponseNames(std::string_view untagged, std::string_view folder) {
  for (std::string_view line : Lines(untagged)) {
    if (!StartsWithWord(line, "* LIST")) continue;
    Tokens tokens(line.substr(6));
    const std::optional<std::string> attributes = tokens.Next();
    const std::optional<std::string> separator = tokens.Next();
    const std::optional<std::string> name = tokens.Next();
    if (attributes && separator && name && *name == folder) return true;
  }
  return false;
}

}  // namespace emailaccess
