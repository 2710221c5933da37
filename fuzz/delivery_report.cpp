// A delivery report, as any mail server (or anyone posing as one) may write
// it, through the report reader. Whatever arrives: every recipient found is
// a plain address that stands in the input (unless an encoding or a
// charset hides it), each at most once; a status is "d.d.d" of class 4 or
// 5, or empty; a recipient is either permanent or delayed, never both, and
// the kind follows from the recipients; every text for the run log is one
// line of UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "emailaccess/message/compose.h"
#include "emailaccess/message/delivery_report.h"
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
  return 0;
}
