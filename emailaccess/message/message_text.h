// From one raw mail message to what the incoming exchange file needs: the
// decoded subject, the sender's address, the date in local time, whether the
// message was sent by a robot, and the best plain text of its body.
//
// ReadIncomingMessage is a pure function of its input bytes (and the local
// time zone) with no files, no state and no exceptions, so that untrusted
// mail can be fed to it directly, by the intake and by a fuzz target alike.
// A message GMime cannot read at all comes back with `parsed` false. Time
// and memory stay bounded: nesting is cut short by GMime, and of a message
// with more than ten thousand lines that could open a part only the start,
// where the reply's text stands, is read (`partsCut`).
#pragma once

#include "emailaccess/message/gmime_support.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace emailaccess {

struct IncomingMessage {
  bool parsed = false;
  std::string subject;          // decoded, UTF-8
  std::string senderAddress;    // From (else Sender, else Reply-To), address only
  std::string automaticReason;  // why this is a robot's mail; empty for a person's reply
  bool hasDate = false;         // the Date header was present and valid
  std::string localDate;        // "YYYY-MM-DD HH:MM:SS" of the Date header in local time
  std::string body;             // best plain text, UTF-8, CR LF line breaks, no NUL byte (U+FFFD instead)
  bool partsCut = false;        // more part boundaries than any mail program writes: only the start was read
};

// `ownAddress` is this program's sender address: mail from it is our own
// and counts as automatic.
IncomingMessage ReadIncomingMessage(std::string_view raw, std::string_view ownAddress);

// For other readers of incoming mail, over GMime's tree: a part's content
// with its transfer encoding undone; the same as UTF-8 text in the charset
// the part declares (CharsetToUtf8); a message's Subject decoded the way the
// intake decodes it (adjacent encoded words, broken ones).
// DecodedContent with `storage` gives a view: of the parsed bytes for
// content as the message carries it (7bit, 8bit, binary), of `storage` for
// what had to be decoded, so a reader that only looks needs no copy.
std::string DecodedContent(GMimePart* part);
std::string_view DecodedContent(GMimePart* part, std::string& storage);
std::string PartText(GMimePart* part);
std::string SubjectOf(GMimeMessage* message);

// "YYYY-MM-DD HH:MM:SS" in local time for seconds since 1970 (UTC).
std::string FormatLocalDate(std::int64_t unixSeconds);

// Joins the soft line breaks of format=flowed text (lines ending in a blank,
// with the same quote depth as the next line) and undoes space-stuffing.
// With `deleteSpace` (delsp=yes) the blank before a soft break is dropped.
// The signature separator "-- " never flows. Input and output use LF.
std::string UnflowText(std::string_view text, bool deleteSpace);

// Undoes the wrapping of a text alternative that a mail program made from
// its HTML alternative (Gmail wraps at about 76 columns; the HTML keeps each
// typed line whole). `htmlText` is the HTML's text (HtmlToText). When both
// carry the same words, quote marks aside, and the text breaks a line where
// the HTML has no break, between two lines of the same quote depth, those
// lines are joined with one blank (a continuation line loses its quote
// marks). Any other difference (a word, a break only the HTML has, a blank
// line the HTML lacks) means the text is not merely the HTML wrapped: it is
// returned as it is. Input and output use LF. ReadIncomingMessage reads the
// HTML for it only when the text may have been wrapped: a line that, with
// the first word of the next line of the same quote depth, passes 64
// columns (mail programs wrap at 72 to 80).
std::string RejoinWrappedLines(std::string_view text, std::string_view htmlText);

}  // namespace emailaccess
