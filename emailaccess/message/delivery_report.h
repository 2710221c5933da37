// What a delivery report says about mail that did not arrive: who did not
// get it, the status and the reason the receiving server gave, and which
// message came back (its Message-ID and subject), so that the intake can
// tell the office about the mailings of this program that bounced.
//
// Reports come in two shapes. The standard one is multipart/report with
// report-type=delivery-status: a message/delivery-status part holds a block
// of fields per recipient (Original-Recipient or Final-Recipient, Action,
// Status, Diagnostic-Code), and a message/rfc822 or text/rfc822-headers part
// returns the message or its headers; a relay may pass such a report on
// wrapped in a multipart/mixed of its own, or attached as a message, and it
// is read the same. The other shape is plain text written
// for people by mail servers that predate it (qmail, older Exim, Sendmail,
// Exchange "Undeliverable:", Gmail, Yahoo, Outlook's own report items): a
// line that starts with the address, the server's answer on it and the
// lines after it, and the returned message's headers quoted further down.
// Plain text is only read so when the message says it is a bounce (its
// sender is a mail system, its subject a bounce's, it names failed
// recipients, or Outlook classed it as a report), so that an out-of-office
// note naming a colleague's address is never taken for one.
//
// GMime parses the message, its parts and every block of fields; this
// module only reads them. Pure function of its input bytes: no files, no
// state, no exceptions. Every address given is a plain address that stands
// in the input as it is; a status is "d.d.d" or empty.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

enum class DeliveryFailure { Permanent, Delayed };

struct FailedRecipient {
  std::string address;     // local@domain
  std::string status;      // "5.1.1", or empty when the report gives none
  std::string diagnostic;  // the receiving server's words, one line, UTF-8; may be empty
  DeliveryFailure failure = DeliveryFailure::Permanent;
};

enum class ReportKind {
  NotAReport,        // no recipient it failed for (also a report of success)
  PermanentFailure,  // at least one recipient will never get it
  Delayed,           // every recipient named may still get it
};

struct DeliveryReport {
  ReportKind kind = ReportKind::NotAReport;
  std::vector<FailedRecipient> recipients;  // each address once, at most 100
  std::string returnedMessageId;            // without angle brackets; empty when not returned
  // Decoded UTF-8; when nothing is returned, the report's own subject
  // without "Undeliverable:" and the like.
  std::string returnedSubject;
};

DeliveryReport ReadDeliveryReport(std::string_view raw);

// The line for the office's run log: "Not delivered to <address>: <status>
// <diagnostic>" or "Delayed for <address>: ...".
std::string DescribeFailure(const FailedRecipient& recipient);

}  // namespace emailaccess
