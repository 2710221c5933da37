// From one raw mail message to what the incoming exchange file needs: the
// decoded subject, the sender's address, the date in local time, whether the
// message was sent by a robot, and the best plain text of its body.
//
// ReadIncomingMessage is a pure function of its input bytes (and the local
// time zone) with no files, no state and no exceptions, so that untrusted
// mail can be fed to it directly, by the intake and by a fuzz target alike.
// A message GMime cannot read at all comes back with `parsed` false. Its
// header fields are read by header_fields.h, its text by body_text.h; what
// is here is the fast path between them and GMime. Time
// and memory stay bounded: nesting is cut short by GMime, and of a message
// with more than ten thousand lines that could open a part only the start,
// where the reply's text stands, is read (`partsCut`).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

struct IncomingMessage {
  bool parsed = false;
  std::string subject;          // decoded, UTF-8
  // Who wrote it: the From field alone (Sender and Reply-To say who sent it
  // on or where answers go, not who wrote it), address only.
  std::string senderAddress;
  // The From field holds exactly one plain address, and no byte in the
  // header block (a NUL) could have cut it short.
  bool senderIsOneAddress = false;
  std::string fromText;         // the From field as written, decoded, for the log; NUL bytes as U+FFFD
  std::vector<std::string> answeredIds;           // Message-IDs in In-Reply-To and References
  std::vector<std::string> authenticationResults;  // the Authentication-Results fields' values, topmost first
  std::string automaticReason;  // why this is a robot's mail; empty for a person's reply
  bool hasDate = false;         // the Date header was present and valid
  std::string localDate;        // "YYYY-MM-DD HH:MM:SS" of the Date header in local time
  std::string body;             // best plain text, UTF-8, CR LF line breaks, no NUL byte (U+FFFD instead)
  bool partsCut = false;        // more part boundaries than any mail program writes: only the start was read
};

// Which of the top-level header fields GMime is given. GMime builds an
// object for every field, some ten thousand instructions each, and mail
// from large providers carries dozens of trace, signature and routing
// fields that nothing here reads: only the fields read are handed on
// (`Read`). `All` hands every field on; it is the reference the reading of
// `Read` must always agree with.
enum class HeaderFields { Read, All };

// `ownAddress` is this program's sender address: mail from it is our own
// and counts as automatic.
IncomingMessage ReadIncomingMessage(std::string_view raw, std::string_view ownAddress,
                                    HeaderFields fields = HeaderFields::Read);

// The message with the top-level header fields nothing here reads left
// out: From, Sender, Reply-To, Subject, Date, Auto-Submitted, X-Autoreply,
// X-Autorespond, Precedence, Return-Path, In-Reply-To, References,
// Authentication-Results and every Content- field stay, in
// their order and byte for byte, and so does everything from the blank line
// on. Any header block that is not plainly well formed (a field name with a
// blank, a control or 8-bit byte, a line without a colon, a NUL byte, no
// blank line before the body) is returned as it is, so that GMime reads it
// the way it always does. Returns `raw` itself when nothing is left out,
// or when the body is so long that copying it would cost more than the
// fields left out save (8 KB a field), else a view of `storage`.
// `wellFormed`, when given, tells whether the header block was plainly well
// formed (whatever was left out).
std::string_view WithoutUnreadHeaders(std::string_view raw, std::string& storage, bool* wellFormed = nullptr);

// Why an item of this message class (Exchange's and Outlook's
// PR_MESSAGE_CLASS: "REPORT.IPM.Note.NDR") is a robot's: delivery,
// non-delivery and read reports, out-of-office and rule replies; empty for a
// person's mail. Classes are compared without letter case.
std::string AutomaticMessageClass(const std::string& messageClass);

}  // namespace emailaccess
