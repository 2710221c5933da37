// Composing the messages that operations 1 and 2 send, with GMime.
//
// One message per recipient, so that no one sees the other recipients. The
// text is UTF-8 in quoted-printable, headers are RFC 2047 encoded where they
// need it, and every line ends with CR LF. The message says it was sent by a
// program, so that out-of-office robots do not answer it. Pure functions; an
// address that is not an address is reported by IsPlainAddress before
// composing, never by an exception.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace emailaccess {

struct Mailbox {
  std::string name;     // may be empty
  std::string address;  // local@domain
};

// True for a bare address "local@domain": no blanks, no angle brackets, one
// "@", a dot-atom local part and a domain of non-empty labels.
bool IsPlainAddress(std::string_view address);

// Reads "Name <local@domain>" or a bare address. False when the text is not
// exactly one such mailbox.
bool ParseMailbox(const std::string& text, Mailbox& out);

// Who a composed message is for: the one mailbox of its To header, its name
// decoded. An empty address when the header holds not exactly one plain
// address.
Mailbox RecipientMailboxOfMessage(const std::string& message);

struct ComposedMessage {
  std::string messageId;  // without angle brackets
  std::string data;       // the whole message, CR LF line ends
};

// The message to one recipient. `body` is UTF-8 with CR LF line breaks;
// `recipient.address` must be a plain address. The Message-ID is made in the
// domain of the sender's address and carries a random key of its own: a
// reply that names it in In-Reply-To or References answers this message.
ComposedMessage ComposeMessage(const Mailbox& sender, const Mailbox& recipient, const std::string& subject,
                               const std::string& body, std::chrono::system_clock::time_point date);

}  // namespace emailaccess
