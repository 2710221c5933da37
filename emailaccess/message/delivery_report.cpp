#include "emailaccess/message/delivery_report.h"

#include "emailaccess/message/compose.h"
#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/html_text.h"
#include "emailaccess/message/body_text.h"
#include "emailaccess/message/header_fields.h"
#include "emailaccess/message/text_encoding.h"
#include "util/text_files.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace emailaccess {
namespace {

// A diagnostic is one line of a log; servers sometimes quote whole pages.
constexpr size_t kMaxDiagnostic = 300;
// Lines after an address that still belong to its reason.
constexpr size_t kDiagnosticLines = 4;
// Every message of ours has one recipient; a report naming more than this
// is about other mail, and reading on would only cost time.
constexpr size_t kMaxRecipients = 100;
// Header blocks tried when looking for the returned message in plain text.
constexpr int kHeaderBlockAttempts = 40;

bool Contains(std::string_view haystack, std::string_view needle) { return haystack.find(needle) != haystack.npos; }

bool ContainsAny(std::string_view lowerText, std::initializer_list<std::string_view> needles) {
  return std::any_of(needles.begin(), needles.end(), [&](std::string_view n) { return Contains(lowerText, n); });
}

// One line of UTF-8 for the log: blanks collapsed, cut at a character.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : SingleLine(Utf8OrWindows1252(text))) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(c);
  }
  if (out.size() > kMaxDiagnostic) {
    size_t cut = kMaxDiagnostic;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return std::string(TrimBlanks(out));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The first enhanced status code "c.s.d" (class 2, 4 or 5, one to three
// digits each) standing on its own, not inside a longer dotted number.
std::string FindStatus(std::string_view text) {
  for (size_t at = 0; at + 5 <= text.size(); ++at) {
    const char c = text[at];
    if (c != '2' && c != '4' && c != '5') continue;
    if (at > 0 && (IsDigit(text[at - 1]) || text[at - 1] == '.')) continue;
    size_t pos = at + 1;
    bool ok = true;
    for (int group = 0; group < 2 && ok; ++group) {
      if (pos >= text.size() || text[pos] != '.') {
        ok = false;
        break;
      }
      const size_t digits = ++pos;
      while (pos < text.size() && IsDigit(text[pos]) && pos - digits < 3) ++pos;
      ok = pos > digits;
    }
    if (!ok) continue;
    if (pos < text.size() && (IsDigit(text[pos]) || (text[pos] == '.' && pos + 1 < text.size() && IsDigit(text[pos + 1])))) {
      continue;
    }
    return std::string(text.substr(at, pos - at));
  }
  return std::string();
}

// Without an enhanced code, the basic SMTP reply ("550 ...") gives its class.
std::string StatusOfReplyCode(std::string_view text) {
  for (size_t at = 0; at + 3 <= text.size(); ++at) {
    if ((text[at] != '4' && text[at] != '5') || !IsDigit(text[at + 1]) || !IsDigit(text[at + 2])) continue;
    if (at > 0 && (IsDigit(text[at - 1]) || text[at - 1] == '.' || text[at - 1] == '#')) continue;
    if (at + 3 < text.size() && text[at + 3] != ' ' && text[at + 3] != '-' && text[at + 3] != ':') continue;
    return std::string(1, text[at]) + ".0.0";
  }
  return std::string();
}

std::string StatusIn(std::string_view text) {
  std::string status = FindStatus(text);
  return status.empty() ? StatusOfReplyCode(text) : status;
}

// The value of a field, unfolded, as it stands in the input.
std::string RawHeader(GMimeObject* object, const char* name) {
  return std::string(TrimBlanks(UnfoldedField(object, name).value_or("")));
}

// "rfc822; ann@example.org" or "<ann@example.org>": the plain address, or empty.
std::string AddressOf(std::string_view value) {
  if (const size_t semicolon = value.find(';'); semicolon != value.npos) value.remove_prefix(semicolon + 1);
  std::string address(TrimBlanks(value));
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') address = address.substr(1, address.size() - 2);
  return IsPlainAddress(address) ? address : std::string();
}

struct Parts {
  std::vector<GMimePart*> statusFields;  // message/delivery-status
  GMimeMessage* returned = nullptr;      // the returned message, or its headers parsed as one
  std::vector<GObjectPtr<GMimeMessage>> owned;
  std::string plain;                     // the text parts, for people
  std::string html;
};

GObjectPtr<GMimeMessage> ParseHeaders(std::string_view text) {
  bool cut = false;
  return ParseIncomingMessage(text, cut);
}

// The report proper: multipart/report of the delivery-status kind, at the
// top as its server wrote it, or further down where a relay passed it on
// wrapped in multipart/mixed of its own, or attached as a message. Its
// parts are the report's; a relay's own text around it names no recipient.
// Null when the message holds none (a plain-text report).
GMimeObject* ReportPart(GMimeMessage* message) {
  constexpr int kMaxWrapping = 8;
  return FindInTree(g_mime_message_get_mime_part(message), kMaxWrapping, true, [](GMimeObject* object) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!g_mime_content_type_is_type(type, "multipart", "report")) return false;
    const char* parameter = g_mime_content_type_get_parameter(type, "report-type");
    const std::string reportType = AsciiLower(TrimBlanks(parameter ? parameter : ""));
    return reportType == "delivery-status" || reportType == "global-delivery-status";
  });
}

// One part of the report (see ForEachLeaf).
void CollectPart(GMimeObject* object, Parts& found) {
  if (GMIME_IS_MESSAGE_PART(object)) {
    // The returned message is read for its headers, never for its text.
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (inner && !found.returned) found.returned = inner;
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (g_mime_content_type_is_type(type, "message", "delivery-status") ||
      g_mime_content_type_is_type(type, "message", "global-delivery-status")) {
    found.statusFields.push_back(part);
  } else if (g_mime_content_type_is_type(type, "text", "rfc822-headers") ||
             g_mime_content_type_is_type(type, "message", "rfc822-headers")) {
    if (!found.returned) {
      found.owned.push_back(ParseHeaders(DecodedContent(part)));
      found.returned = found.owned.back().get();
    }
  } else if (g_mime_content_type_is_type(type, "text", "plain")) {
    found.plain += CrlfToLf(PartText(part)) + "\n";
  } else if (g_mime_content_type_is_type(type, "text", "html") && found.html.empty()) {
    found.html = PartText(part);
  }
}

void AddRecipient(DeliveryReport& report, FailedRecipient recipient) {
  const std::string lower = AsciiLower(recipient.address);
  for (FailedRecipient& known : report.recipients) {
    if (AsciiLower(known.address) != lower) continue;
    // Exchange names the address twice: for people, then with the server's reply.
    if (known.status.empty() && !recipient.status.empty()) known = std::move(recipient);
    return;
  }
  if (report.recipients.size() >= kMaxRecipients) return;
  report.recipients.push_back(std::move(recipient));
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

// The blocks of fields of a message/delivery-status part, each read by GMime
// as the header of an empty part; the first block is about the report
// itself, the others name one recipient each.
void ReadStatusFields(GMimePart* part, DeliveryReport& report) {
  std::vector<std::string> blocks(1);
  for (const std::string& line : LinesOf(CrlfToLf(DecodedContent(part)))) {
    if (TrimBlanks(line).empty()) {
      if (!blocks.back().empty()) blocks.emplace_back();
    } else {
      blocks.back() += line + "\n";
    }
  }
  for (const std::string& block : blocks) {
    if (report.recipients.size() >= kMaxRecipients) break;
    if (block.empty()) continue;
    const std::string input = block + "\n";
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(input.data(), input.size()));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeObject> fields(g_mime_parser_construct_part(parser.get(), IncomingParserOptions()));
    if (!fields) continue;
    std::string address = AddressOf(RawHeader(fields.get(), "Original-Recipient"));
    if (address.empty()) address = AddressOf(RawHeader(fields.get(), "Final-Recipient"));
    if (address.empty()) continue;
    const std::string action = AsciiLower(RawHeader(fields.get(), "Action"));
    std::string diagnostic = RawHeader(fields.get(), "Diagnostic-Code");
    if (const size_t semicolon = diagnostic.find(';'); semicolon != std::string::npos) diagnostic.erase(0, semicolon + 1);
    std::string status = FindStatus(RawHeader(fields.get(), "Status"));
    if (status.empty()) status = StatusIn(diagnostic);
    if (status.rfind('2', 0) == 0) status.clear();  // a success code says nothing about a failure
    FailedRecipient recipient{address, status, OneLine(diagnostic), DeliveryFailure::Permanent};
    if (action.rfind("failed", 0) == 0) {
      recipient.failure = DeliveryFailure::Permanent;
    } else if (action.rfind("delayed", 0) == 0) {
      recipient.failure = DeliveryFailure::Delayed;
    } else if (action.empty() && (status.rfind('5', 0) == 0 || status.rfind('4', 0) == 0)) {
      recipient.failure = status[0] == '5' ? DeliveryFailure::Permanent : DeliveryFailure::Delayed;
    } else {
      continue;  // delivered, relayed, expanded: nothing went wrong for this one
    }
    AddRecipient(report, std::move(recipient));
  }
}

// A subject a bounce gives itself (lower case), in the languages the
// servers of the people LvMAPI writes to speak.
bool IsBounceSubject(std::string_view lower) {
  return ContainsAny(lower, {"undeliverable", "undelivered", "delivery status notification", "delivery failure",
                             "delivery failed", "failure notice", "returned mail", "could not send message",
                             "delivery has failed", "non remis", "non distribuable", "unzustellbar", "nicht zustellbar",
                             "niedostarczalna", "niedostarczon", "delivery delayed", "delayed mail",
                             "delivery notification", "mail system error", "nondeliverable"});
}

bool IsMailSystem(std::string_view lowerAddress) {
  const std::string_view local = lowerAddress.substr(0, lowerAddress.find('@'));
  return local == "postmaster" || local == "mail-daemon" || Contains(local, "mailer-daemon") ||
         local.rfind("microsoftexchange", 0) == 0;
}

// Addresses of the report's own header: they are the sender of the mailing
// or the mail system, never a recipient that failed.
std::vector<std::string> OwnAddresses(GMimeMessage* message) {
  std::vector<std::string> own;
  for (InternetAddressList* list : {g_mime_message_get_from(message), g_mime_message_get_to(message),
                                    g_mime_message_get_cc(message), g_mime_message_get_reply_to(message)}) {
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
      InternetAddress* address = internet_address_list_get_address(list, i);
      if (!INTERNET_ADDRESS_IS_MAILBOX(address)) continue;
      if (const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address))) own.push_back(AsciiLower(addr));
    }
  }
  return own;
}

// A line that opens the returned message's header: a field every message has.
bool OpensHeader(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string name = AsciiLower(line.substr(0, colon));
  return name == "return-path" || name == "received" || name == "message-id" || name == "date" || name == "from" ||
         name == "to" || name == "subject" || name == "mime-version" || name == "delivered-to" ||
         name == "dkim-signature" || name == "x-original-to" || name == "content-type" || name == "reply-to";
}

bool IsFieldLine(const std::string& line) {
  if (line.empty()) return false;
  if (line[0] == ' ' || line[0] == '\t') return true;  // a folded line
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<long>(colon), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_';
  });
}

// Where the copy of the returned message starts in a plain report (the first
// header block that GMime reads as a message with a Message-ID or a
// Subject), taken into `returned`; the number of lines when there is none.
size_t FindQuotedHeader(const std::vector<std::string>& lines, Parts& parts) {
  int attempts = 0;
  for (size_t i = 1; i + 1 < lines.size() && attempts < kHeaderBlockAttempts; ++i) {
    if (!OpensHeader(lines[i]) || !IsFieldLine(lines[i + 1])) continue;
    ++attempts;
    std::string block;
    for (size_t j = i; j < lines.size() && IsFieldLine(lines[j]); ++j) block += lines[j] + "\n";
    GObjectPtr<GMimeMessage> message = ParseHeaders(block + "\n");
    if (!message) continue;
    if (!g_mime_message_get_message_id(message.get()) && !g_mime_message_get_subject(message.get())) continue;
    if (!parts.returned) {
      parts.owned.push_back(std::move(message));
      parts.returned = parts.owned.back().get();
    }
    return i;
  }
  return lines.size();
}

bool SaysDelayed(std::string_view lowerSubject, std::string_view lowerText) {
  return ContainsAny(lowerSubject, {"delay", "warning", "verzögert", "retard", "opóźni"}) ||
         ContainsAny(lowerText, {"will be retried", "will retry", "still trying", "not yet been delivered",
                                 "has been delayed", "is delayed", "delivery is delayed", "will continue trying"});
}

// The token a line starts with, as an address: "<ann@example.org>:" and
// "ann@example.org" alike.
std::string LeadingAddress(const std::string& line) {
  const std::string trimmed(TrimBlanks(line));
  std::string token = trimmed.substr(0, trimmed.find_first_of(" \t"));
  while (!token.empty() && (token.front() == '<' || token.front() == '"' || token.front() == '\'')) token.erase(0, 1);
  while (!token.empty() && std::string_view(">:,;\"'.").find(token.back()) != std::string_view::npos) token.pop_back();
  return IsPlainAddress(token) ? token : std::string();
}

// The recipient on line `i` of a plain report. Its reason is the rest of
// that line and the lines after it, up to a blank line or the next address;
// when that says nothing (Gmail puts it in the paragraphs below), the
// following paragraphs. Of a reason over several lines, the one with the
// server's reply ("550 5.1.1 ...") is the diagnostic. A status in the reason
// decides permanent or delayed; without one, the report's wording does.
// A success code ("250 2.0.0 Ok") names no failure: none then, unless the
// report named the address as failed (`namedFailed`), which keeps it
// without the code.
std::optional<FailedRecipient> PlainRecipient(const std::vector<std::string>& lines, size_t i, size_t copyStart,
                                              const std::string& address, DeliveryFailure byWording,
                                              bool namedFailed) {
  const std::string first(TrimBlanks(lines[i]));
  const size_t blank = first.find_first_of(" \t");
  std::vector<std::string> reasonLines;
  if (blank != std::string::npos) reasonLines.push_back(first.substr(blank));
  const bool saysNothing = TrimBlanks(reasonLines.empty() ? "" : reasonLines.front()).empty() &&
                           (i + 1 >= copyStart || TrimBlanks(lines[i + 1]).empty());
  for (size_t j = i + 1; j < copyStart && reasonLines.size() <= kDiagnosticLines * (saysNothing ? 2 : 1); ++j) {
    if (!LeadingAddress(lines[j]).empty()) break;
    if (TrimBlanks(lines[j]).empty()) {
      if (saysNothing) continue;
      break;
    }
    reasonLines.push_back(lines[j]);
  }
  std::string reason;
  for (const std::string& line : reasonLines) reason += " " + line;
  std::string status = StatusIn(reason);
  if (status.rfind('2', 0) == 0) {
    if (!namedFailed) return std::nullopt;
    status.clear();
  }
  for (const std::string& line : reasonLines) {
    if (!status.empty() && Contains(line, status) && !StatusOfReplyCode(line).empty()) reason = line;
  }
  DeliveryFailure failure = byWording;
  if (!status.empty()) failure = status[0] == '4' ? DeliveryFailure::Delayed : DeliveryFailure::Permanent;
  return FailedRecipient{address, status, OneLine(reason), failure};
}

// The recipients of a plain report: those Exim names in a header of its own,
// and the lines in front of the returned copy that start with an address.
void ReadPlainRecipients(const std::vector<std::string>& lines, size_t copyStart, const std::string& failedHeader,
                         const std::vector<std::string>& own, DeliveryFailure byWording, DeliveryReport& report) {
  for (size_t at = 0; at < failedHeader.size();) {
    size_t end = failedHeader.find(',', at);
    if (end == std::string::npos) end = failedHeader.size();
    const std::string address = AddressOf(failedHeader.substr(at, end - at));
    at = end + 1;
    if (address.empty()) continue;
    size_t line = 0;
    while (line < copyStart && AsciiLower(LeadingAddress(lines[line])) != AsciiLower(address)) ++line;
    std::optional<FailedRecipient> recipient;
    if (line < copyStart) recipient = PlainRecipient(lines, line, copyStart, address, byWording, true);
    AddRecipient(report, recipient ? *recipient : FailedRecipient{address, "", "", byWording});
  }
  for (size_t i = 0; i < copyStart && report.recipients.size() < kMaxRecipients; ++i) {
    const std::string address = LeadingAddress(lines[i]);
    if (address.empty() || std::find(own.begin(), own.end(), AsciiLower(address)) != own.end()) continue;
    if (std::optional<FailedRecipient> recipient = PlainRecipient(lines, i, copyStart, address, byWording, false)) {
      AddRecipient(report, std::move(*recipient));
    }
  }
}

// "Undeliverable: Corvane Survey - Spring" gives "Corvane Survey - Spring".
std::string WithoutBouncePrefix(const std::string& subject) {
  const size_t colon = subject.find(':');
  if (colon == std::string::npos || colon > 40 || !IsBounceSubject(AsciiLower(subject.substr(0, colon)))) return subject;
  return std::string(TrimBlanks(subject.substr(colon + 1)));
}

}  // namespace

DeliveryReport ReadDeliveryReport(std::string_view raw) {
  DeliveryReport report;
  bool cut = false;
  GObjectPtr<GMimeMessage> message = ParseIncomingMessage(raw, cut);
  if (!message) return report;
  GMimeObject* object = GMIME_OBJECT(message.get());

  Parts parts;
  GMimeObject* reportPart = ReportPart(message.get());
  ForEachLeaf(reportPart ? reportPart : g_mime_message_get_mime_part(message.get()), 32,
              [&](GMimeObject* leaf) { CollectPart(leaf, parts); });
  for (GMimePart* fields : parts.statusFields) ReadStatusFields(fields, report);

  const std::string subject = Utf8OrWindows1252(SubjectOf(message.get()));
  const std::string lowerSubject = AsciiLower(subject);
  const std::string outlookClass = AsciiLower(RawHeader(object, "Auto-Submitted"));
  // Outlook's class of a report item decides: a receipt of delivery or
  // reading comes from the same mail system as a failure.
  const bool outlookReport = Contains(outlookClass, "message-class=report.");
  const bool outlookBounce = Contains(outlookClass, ".ndr") || Contains(outlookClass, "delay");
  const std::string failedHeader = RawHeader(object, "X-Failed-Recipients");
  const bool bounce = outlookReport ? outlookBounce
                                    : !failedHeader.empty() || IsBounceSubject(lowerSubject) ||
                                          IsMailSystem(AsciiLower(FirstAddress(g_mime_message_get_from(message.get())))) ||
                                          !parts.statusFields.empty();

  std::string text = parts.plain;
  if (text.empty() && !parts.html.empty()) text = CrlfToLf(HtmlToText(parts.html));
  const std::vector<std::string> lines = LinesOf(text);
  const size_t copyStart = bounce ? FindQuotedHeader(lines, parts) : lines.size();
  if (report.recipients.empty() && bounce) {
    std::string before;
    for (size_t i = 0; i < copyStart; ++i) before += AsciiLower(lines[i]) + "\n";
    const DeliveryFailure byWording = (Contains(outlookClass, "delay") || SaysDelayed(lowerSubject, before))
                                          ? DeliveryFailure::Delayed
                                          : DeliveryFailure::Permanent;
    ReadPlainRecipients(lines, copyStart, failedHeader, OwnAddresses(message.get()), byWording, report);
  }

  if (parts.returned) {
    if (const char* id = g_mime_message_get_message_id(parts.returned)) {
      report.returnedMessageId = SingleLine(Utf8OrWindows1252(id));
    }
    report.returnedSubject = Utf8OrWindows1252(SubjectOf(parts.returned));
  }
  if (report.returnedSubject.empty()) report.returnedSubject = WithoutBouncePrefix(subject);

  const bool anyPermanent = std::any_of(report.recipients.begin(), report.recipients.end(), [](const FailedRecipient& r) {
    return r.failure == DeliveryFailure::Permanent;
  });
  if (anyPermanent) report.kind = ReportKind::PermanentFailure;
  else if (!report.recipients.empty()) report.kind = ReportKind::Delayed;
  return report;
}

std::string DescribeFailure(const FailedRecipient& recipient) {
  std::string reason = recipient.status;
  if (!recipient.diagnostic.empty()) reason += (reason.empty() ? "" : " ") + recipient.diagnostic;
  if (reason.empty()) reason = "no reason given";
  return std::string(recipient.failure == DeliveryFailure::Permanent ? "Not delivered to " : "Delayed for ") +
         recipient.address + ": " + reason;
}

}  // namespace emailaccess
