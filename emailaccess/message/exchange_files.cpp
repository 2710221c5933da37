#include "emailaccess/message/exchange_files.h"

#include "emailaccess/message/text_encoding.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

namespace emailaccess {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(kBlanks);
  return std::string(text.substr(begin, end - begin + 1));
}

// The elements of an outgoing file's head, indexed in one pass: for each
// name its first opening tag, and where its closing tags stand. A lookup
// then finds what a search from the start of the text would find (the
// first opening tag, the first closing tag after it) without searching the
// whole text again for every recipient.
class ElementIndex {
 public:
  explicit ElementIndex(std::string_view text) : m_text(text) {
    for (size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', lt + 1)) {
      const bool closing = lt + 1 < text.size() && text[lt + 1] == '/';
      const size_t nameStart = lt + (closing ? 2 : 1);
      const size_t gt = text.find_first_of("<>", nameStart);
      if (gt == std::string_view::npos || text[gt] != '>') continue;
      std::string name(text.substr(nameStart, gt - nameStart));
      if (closing) {
        m_closes[name].push_back(lt);
      } else {
        m_opens.emplace(std::move(name), gt + 1);
      }
    }
  }

  bool Find(const std::string& name, std::string_view& value) const {
    auto open = m_opens.find(name);
    auto closes = m_closes.find(name);
    if (open == m_opens.end() || closes == m_closes.end()) return false;
    auto close = std::lower_bound(closes->second.begin(), closes->second.end(), open->second);
    if (close == closes->second.end()) return false;
    value = m_text.substr(open->second, *close - open->second);
    return true;
  }

 private:
  std::string_view m_text;
  std::unordered_map<std::string, size_t> m_opens;               // name -> just after its first opening tag
  std::unordered_map<std::string, std::vector<size_t>> m_closes;  // name -> its closing tags, in order
};

// Where a blank goes in to break an exchange tag inside a value: after the
// "<" of each one.
std::vector<size_t> ExchangeTagCuts(std::string_view value) {
  static constexpr std::array<std::string_view, 3> kNames = {"Originator", "Date", "Body"};
  std::vector<size_t> cuts;
  for (size_t i = value.find('<'); i != std::string_view::npos; i = value.find('<', i + 1)) {
    size_t p = i + 1;
    if (p < value.size() && value[p] == '/') ++p;
    for (std::string_view name : kNames) {
      if (value.compare(p, name.size(), name) != 0) continue;
      size_t q = p + name.size();
      while (q < value.size() && value[q] >= '0' && value[q] <= '9') ++q;
      if (q < value.size() && value[q] == '>') cuts.push_back(i + 1);
      break;
    }
  }
  return cuts;
}

// `value` with a blank at each cut, appended to `out` in runs.
void AppendWithBlanks(std::string& out, std::string_view value, const std::vector<size_t>& cuts) {
  size_t from = 0;
  for (size_t cut : cuts) {
    out.append(value.substr(from, cut - from));
    out.push_back(' ');
    from = cut;
  }
  out.append(value.substr(from));
}

}  // namespace

bool ParseOutgoingExchange(std::string_view fileText, OutgoingExchange& out, std::string& error) {
  out = OutgoingExchange();
  const std::string text = CanonicalCrlf(fileText);
  const std::string_view all(text);

  const size_t bodyOpen = all.find("<Body>");
  const size_t bodyClose = all.rfind("</Body>");
  if (bodyOpen == std::string_view::npos || bodyClose == std::string_view::npos ||
      bodyClose < bodyOpen + 6) {
    error = "the exchange file has no complete <Body>...</Body> element";
    return false;
  }
  out.body = Utf8OrWindows1252(all.substr(bodyOpen + 6, bodyClose - bodyOpen - 6));

  const ElementIndex head(all.substr(0, bodyOpen));
  for (int n = 1;; ++n) {
    std::string_view name, address;
    if (!head.Find("Recipient" + std::to_string(n), name) || !head.Find("Email" + std::to_string(n), address)) {
      break;
    }
    out.recipients.push_back({SingleLine(Trim(Utf8OrWindows1252(name))), SingleLine(Trim(Utf8OrWindows1252(address)))});
  }
  return true;
}

size_t NeutraliseExchangeTags(std::string& value) {
  // Most values have no tag and are left untouched.
  const std::vector<size_t> cuts = ExchangeTagCuts(value);
  if (cuts.empty()) return 0;
  std::string out;
  out.reserve(value.size() + cuts.size());
  AppendWithBlanks(out, value, cuts);
  value.swap(out);
  return cuts.size();
}

namespace {

size_t AppendIncomingRecord(std::string& out, int number, const ReplyRecord& reply) {
  size_t broken = 0;
  const std::string digits = std::to_string(number);
  for (const auto& [name, value] : {std::pair<const char*, const std::string*>{"Originator", &reply.originator},
                                    {"Date", &reply.date},
                                    {"Body", &reply.body}}) {
    const std::vector<size_t> cuts = ExchangeTagCuts(*value);
    broken += cuts.size();
    out.append("<").append(name).append(digits).append(">");
    AppendWithBlanks(out, *value, cuts);
    out.append("</").append(name).append(digits).append(">\r\n");
  }
  return broken;
}

size_t RecordRoom(const ReplyRecord& reply) { return reply.originator.size() + reply.date.size() + reply.body.size() + 80; }

}  // namespace

std::string FormatIncomingExchange(const std::vector<ReplyRecord>& replies, size_t* neutralised) {
  std::string out;
  size_t room = 0;
  for (const ReplyRecord& reply : replies) room += RecordRoom(reply);
  out.reserve(room);  // the replies' texts are copied once, not again as it grows
  size_t broken = 0;
  int n = 0;
  for (const ReplyRecord& reply : replies) broken += AppendIncomingRecord(out, ++n, reply);
  if (neutralised) *neutralised += broken;
  return out;
}

std::string FormatIncomingRecord(int number, const ReplyRecord& reply, size_t* neutralised) {
  std::string out;
  out.reserve(RecordRoom(reply));
  const size_t broken = AppendIncomingRecord(out, number, reply);
  if (neutralised) *neutralised += broken;
  return out;
}

}  // namespace emailaccess
