// A delivery report, as any mail server (or anyone posing as one) may write
// it, through the report reader. Whatever arrives: every recipient found is
// a plain address that stands in the input (unless an encoding or a
// charset hides it), each at most once; a status is "d.d.d" of class 4 or
// 5, or empty; a recipient is either permanent or delayed, never both, and
// the kind follows from the recipients; every text for the run log is one
// line of UTF-8. And the same fields of a report, read once as its server
// sent it and once as a relay passed it on (wrapped in multipart/mixed, or
// attached as a message), tell the same recipients.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "emailaccess/message/compose.h"
#include "emailaccess/message/delivery_report.h"
#include "emailaccess/message/gmime_support.h"
#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Require;

bool IsStatus(const std::string& status) {
  if (status.empty()) return true;
  if (status[0] != '4' && status[0] != '5') return false;
  int dots = 0, digits = 0;
  for (size_t i = 1; i < status.size(); ++i) {
    if (status[i] == '.') {
      if (i > 1 && digits == 0) return false;
      ++dots;
      digits = 0;
    } else if (status[i] >= '0' && status[i] <= '9') {
      if (++digits > 3) return false;
    } else {
      return false;
    }
  }
  return dots == 2 && digits > 0;
}

bool OneLine(const std::string& text) {
  return emailaccess::IsValidUtf8(text) && text.find_first_of("\r\n") == std::string::npos;
}

// A delay warning whose message/delivery-status part holds `fields`: as its
// server sends it, wrapped by a relay, or attached by one.
enum class Passed { AsSent, Wrapped, Attached };

std::string ReportAround(const std::string& fields, Passed passed) {
  const std::string report =
      "Content-Type: multipart/report; report-type=delivery-status; boundary=\"=report=\"\r\n\r\n"
      "--=report=\r\nContent-Type: text/plain\r\n\r\nYour message could not be delivered yet.\r\n"
      "--=report=\r\nContent-Type: message/delivery-status\r\n\r\n" +
      fields +
      "\r\n--=report=\r\nContent-Type: text/rfc822-headers\r\n\r\nSubject: Corvane Survey - Autumn\r\n"
      "Message-ID: <a@corvane-church.org>\r\n\r\n--=report=--\r\n";
  const std::string server = "From: MAILER-DAEMON@mx.example.net\r\nSubject: Delayed Mail\r\nMIME-Version: 1.0\r\n";
  if (passed == Passed::AsSent) return server + report;
  const std::string relay =
      "From: relay@corvane-church.org\r\nSubject: Delayed Mail\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"=relay=\"\r\n\r\n--=relay=\r\nContent-Type: text/plain\r\n\r\n"
      "Passed on by the relay.\r\n--=relay=\r\n";
  const std::string inner = passed == Passed::Wrapped ? report : "Content-Type: message/rfc822\r\n\r\n" + server + report;
  return relay + inner + "\r\n--=relay=--\r\n";
}

bool SameRecipients(const emailaccess::DeliveryReport& a, const emailaccess::DeliveryReport& b) {
  if (a.kind != b.kind || a.recipients.size() != b.recipients.size()) return false;
  for (size_t i = 0; i < a.recipients.size(); ++i) {
    const emailaccess::FailedRecipient& x = a.recipients[i];
    const emailaccess::FailedRecipient& y = b.recipients[i];
    if (x.address != y.address || x.status != y.status || x.diagnostic != y.diagnostic || x.failure != y.failure) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const emailaccess::DeliveryReport report = emailaccess::ReadDeliveryReport(raw);
  std::string lower = raw;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  // Text that reaches the reader only decoded: a transfer encoding, another
  // charset, HTML character references.
  const bool encoded = lower.find("transfer-encoding") != std::string::npos ||
                       lower.find("charset") != std::string::npos || raw.find('&') != std::string::npos;

  std::string unbroken = raw;
  unbroken.erase(std::remove_if(unbroken.begin(), unbroken.end(), [](char c) { return c == '\r' || c == '\n'; }),
                 unbroken.end());

  bool anyPermanent = false;
  std::set<std::string> seen;
  for (const emailaccess::FailedRecipient& recipient : report.recipients) {
    Require(!recipient.address.empty() && emailaccess::IsPlainAddress(recipient.address), "a recipient is an address");
    // Eight-bit text without a charset is read as Windows-1252, so only an
    // address in ASCII must stand in the input byte for byte.
    const bool ascii = std::all_of(recipient.address.begin(), recipient.address.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    // A header value is read unfolded: its CR and LF bytes are not part of it.
    Require(encoded || !ascii || raw.find(recipient.address) != std::string::npos ||
                unbroken.find(recipient.address) != std::string::npos,
            "a recipient's address stands in the input");
    std::string key = recipient.address;
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    Require(seen.insert(key).second, "each recipient once, never both permanent and delayed");
    Require(IsStatus(recipient.status), "a status is d.d.d of class 4 or 5");
    Require(OneLine(recipient.diagnostic) && recipient.diagnostic.size() <= 300, "a diagnostic is one short line");
    const std::string line = emailaccess::DescribeFailure(recipient);
    Require(OneLine(line), "the run log gets one line per recipient");
    anyPermanent = anyPermanent || recipient.failure == emailaccess::DeliveryFailure::Permanent;
  }
  const emailaccess::ReportKind expected = anyPermanent               ? emailaccess::ReportKind::PermanentFailure
                                           : report.recipients.empty() ? emailaccess::ReportKind::NotAReport
                                                                       : emailaccess::ReportKind::Delayed;
  Require(report.kind == expected, "the kind follows from the recipients");
  Require(OneLine(report.returnedMessageId), "the returned Message-ID is one line");
  Require(emailaccess::IsValidUtf8(report.returnedSubject), "the returned subject is UTF-8");

  // Fields that would end our own parts early are not a report's fields,
  // and of a message with more part lines than mail has only the start is read.
  bool cut = false;
  emailaccess::WithinPartLimit(ReportAround(raw, Passed::Attached), cut);
  if (!cut && raw.find("=report=") == std::string::npos && raw.find("=relay=") == std::string::npos) {
    const emailaccess::DeliveryReport sent = emailaccess::ReadDeliveryReport(ReportAround(raw, Passed::AsSent));
    Require(SameRecipients(sent, emailaccess::ReadDeliveryReport(ReportAround(raw, Passed::Wrapped))),
            "a report wrapped by a relay tells what it told as sent");
    Require(SameRecipients(sent, emailaccess::ReadDeliveryReport(ReportAround(raw, Passed::Attached))),
            "a report attached by a relay tells what it told as sent");
  }
  return 0;
}
