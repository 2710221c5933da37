// A mail item of Outlook's Inbox as the raw mail message the reply cycle
// reads: what Outlook tells of the item (its sender's address, subject, body,
// the time it was received, its message class) in the form a Maildir or IMAP
// message has, so that the same reader makes the same exchange file of it.
//
// Outlook hands out no headers of its own, so the message says only what
// the item's properties say: From, Subject, Date (the received time in the
// local time zone) and one body part, the HTML one when the item is HTML
// mail (turned into text by the same reader as HTML mail of any other
// transport). Robots' items (delivery and read reports, out-of-office and
// rule replies) are told by their message class and marked with an
// Auto-Submitted header naming it. Pure functions, no exceptions.
#pragma once

#include <cstdint>
#include <string>

namespace emailaccess {

struct OutlookMail {
  std::string senderAddress;  // SMTP address where Outlook knows one
  std::string subject;
  std::string body;          // Body: plain text
  std::string htmlBody;      // HTMLBody when the item is HTML mail, else empty
  std::string messageClass;  // "IPM.Note", "REPORT.IPM.Note.NDR", ...
  double received = 0.0;     // ReceivedTime: an automation date in local time
};

// Seconds since 1970 (UTC) of a local automation date; false when the date
// is outside the calendar or the local time zone cannot place it.
bool LocalDateToUnixSeconds(double date, std::int64_t& seconds);

// The item as a raw message with CR LF line ends.
std::string OutlookMailAsMessage(const OutlookMail& mail);

// The To text of a mail item for one recipient: "Ann Lee <ann.lee@example.org>",
// the address alone without a name. Outlook takes ";" and "," as the end of
// one recipient and resolves what stands between them by itself, so those,
// quotes and angle brackets in a name become blanks (and runs of blanks
// one).
std::string OutlookRecipientText(const std::string& name, const std::string& address);

}  // namespace emailaccess
