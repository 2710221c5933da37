#include "exchange/outgoing.h"

#include <map>
#include <optional>

#include "exchange/elements.h"
#include "util/text_files.h"

namespace exchange {
namespace {

std::string TagText(const TagAt& tag) {
  return std::string(tag.closing ? "</" : "<") + std::string(tag.name) + std::string(tag.digits) + ">";
}

// The recipient elements before the body, by number: name and address as
// written. Refuses what does not make one recipient per number.
class RecipientElements {
 public:
  bool Read(std::string_view head, std::string& error) {
    std::optional<TagAt> open;  // the element being read
    std::size_t valueStart = 0;
    for (std::size_t i = head.find('<'); i != std::string_view::npos; i = head.find('<', i + 1)) {
      const TagAt tag = FindTagAt(head, i, kOutgoingNames);
      if (!tag.found || tag.blanks > 0) continue;
      if (tag.name == kBody) return Refuse(error, TagText(tag) + " before the body");
      if (tag.name == kMailing && !tag.digits.empty()) return Refuse(error, TagText(tag) + " is numbered");
      if (tag.name != kMailing && (tag.digits.empty() || tag.digits[0] == '0' || tag.digits.size() > 9)) {
        return Refuse(error, TagText(tag) + " is not numbered from 1");
      }
      if (!open) {
        if (tag.closing) return Refuse(error, TagText(tag) + " closes no element");
        open = tag;
        valueStart = tag.end;
      } else {
        if (!tag.closing || tag.name != open->name || tag.digits != open->digits) {
          return Refuse(error, TagText(tag) + " inside " + TagText(*open));
        }
        if (!Keep(*open, head.substr(valueStart, i - valueStart), error)) return false;
        open.reset();
      }
      i = tag.end - 1;
    }
    if (open) return Refuse(error, TagText(*open) + " is never closed");
    return Paired(error);
  }

  std::string TakeMailing() const {
    return m_mailing ? ReadValue(TrimBlanks(*m_mailing), kOutgoingNames) : std::string();
  }

  std::vector<Recipient> Take() {
    std::vector<Recipient> recipients;
    recipients.reserve(m_names.size());
    for (auto& [number, name] : m_names) {
      recipients.push_back(
          {ReadValue(TrimBlanks(name), kOutgoingNames), ReadValue(TrimBlanks(m_addresses[number]), kOutgoingNames)});
    }
    return recipients;
  }

 private:
  static bool Refuse(std::string& error, const std::string& why) {
    error = "the recipient elements do not pair up: " + why;
    return false;
  }

  bool Keep(const TagAt& tag, std::string_view value, std::string& error) {
    if (tag.name == kMailing) {
      if (m_mailing) return Refuse(error, "Mailing twice");
      m_mailing = value;
      return true;
    }
    auto& values = tag.name == kRecipient ? m_names : m_addresses;
    if (!values.emplace(std::stoi(std::string(tag.digits)), value).second) {
      return Refuse(error, std::string(tag.name) + std::string(tag.digits) + " twice");
    }
    return true;
  }

  // Numbers 1 to n, each with both elements.
  bool Paired(std::string& error) const {
    int expected = 1;
    auto name = m_names.begin();
    auto address = m_addresses.begin();
    for (; name != m_names.end() || address != m_addresses.end(); ++expected) {
      const bool hasName = name != m_names.end() && name->first == expected;
      const bool hasAddress = address != m_addresses.end() && address->first == expected;
      if (!hasName && !hasAddress) return Refuse(error, "no recipient " + std::to_string(expected));
      const std::string recipient = NumberedName(kRecipient, expected), email = NumberedName(kEmail, expected);
      if (!hasAddress) return Refuse(error, recipient + " without " + email);
      if (!hasName) return Refuse(error, email + " without " + recipient);
      ++name;
      ++address;
    }
    return true;
  }

  std::optional<std::string_view> m_mailing;
  std::map<int, std::string_view> m_names;
  std::map<int, std::string_view> m_addresses;
};

}  // namespace

std::string FormatOutgoing(const std::vector<Recipient>& recipients, std::string_view body, std::string_view mailing) {
  std::string text;
  if (!mailing.empty()) {
    AppendElement(text, kMailing, mailing, kOutgoingNames);
    text += '\n';
  }
  int n = 1;
  for (const Recipient& r : recipients) {
    AppendElement(text, NumberedName(kRecipient, n), r.name, kOutgoingNames);
    text += '\n';
    AppendElement(text, NumberedName(kEmail, n), r.address, kOutgoingNames);
    text += '\n';
    ++n;
  }
  AppendElement(text, kBody, body, kOutgoingNames);
  return text;
}

bool ReadOutgoing(std::string_view text, Outgoing& out, std::string& error) {
  out = Outgoing();
  const std::string open = "<" + std::string(kBody) + ">", close = "</" + std::string(kBody) + ">";
  const std::size_t bodyOpen = text.find(open);
  const std::size_t bodyClose = text.rfind(close);
  if (bodyOpen == std::string_view::npos || bodyClose == std::string_view::npos ||
      bodyClose < bodyOpen + open.size()) {
    error = "the exchange file has no complete <Body>...</Body> element";
    return false;
  }
  RecipientElements recipients;
  if (!recipients.Read(text.substr(0, bodyOpen), error)) return false;
  out.mailing = recipients.TakeMailing();
  out.recipients = recipients.Take();
  out.body = ReadValue(text.substr(bodyOpen + open.size(), bodyClose - bodyOpen - open.size()), kOutgoingNames);
  return true;
}

}  // namespace exchange
