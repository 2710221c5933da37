// The top-level header fields of incoming mail as this program reads them:
// who sent it, its subject, its date, and whether a program rather than a
// person sent it.
//
// Each is read in one way, from the header list of the object that holds
// the message's top-level fields, whether GMime parsed the message as a
// message or, faster, the same bytes as a bare part (ReadIncomingMessage).
// Only an address field that does not parse whole is GMimeMessage's to read,
// since it keeps the addresses before the fault, which GMime's public
// parsing does not give. Nothing here throws.
#pragma once

#include "emailaccess/message/gmime_support.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

// The first mailbox of an address list, looking inside groups too (a reply
// from "Team: t@example.org, u@example.org;" is t@example.org's); empty
// when the list names none.
std::string FirstAddress(InternetAddressList* list);

// The sender's address, UTF-8: the first mailbox of the From fields (who
// wrote it; Sender and Reply-To do not say that); empty when none names one.
// None when a From field does not parse whole.
std::optional<std::string> SenderAddressOfFields(GMimeObject* fields);
// The same for a message, which always has an answer: where a field does not
// parse whole, the addresses GMimeMessage kept from it count.
std::string SenderAddress(GMimeMessage* message);

// What the fields say of who wrote the message, what it answers and what
// the receiving servers found of its sender.
struct OriginFields {
  std::string fromText;  // the From field as written, unfolded and decoded, for the log
  bool senderIsOneAddress = false;  // exactly one From field, naming exactly one plain address
  std::vector<std::string> answeredIds;            // Message-IDs in In-Reply-To and References
  std::vector<std::string> authenticationResults;  // the Authentication-Results fields' values, topmost first
};
OriginFields ReadOriginFields(GMimeObject* fields);

// The first Subject field as written, decoded (adjacent encoded words,
// broken ones); empty when there is none.
std::string SubjectOf(GMimeObject* fields);
std::string SubjectOf(GMimeMessage* message);

// The value of the first field `name`, its line breaks taken out; none when
// there is no such field.
std::optional<std::string> UnfoldedField(GMimeObject* fields, const char* name);

// The date of the last Date field with a value, as GMimeMessage takes it:
// null when that one is broken, or there is none.
GDateTimePtr DateOf(GMimeObject* fields);

// Why the message was sent by a program rather than typed by a person, or
// the empty text. Such mail (out-of-office notes, bounces, list traffic, our
// own messages coming back) must never be taken for a reply. `top` is the
// top of the MIME tree; `ownAddress` is this program's sender address.
std::string AutomaticReason(GMimeObject* fields, GMimeObject* top, const std::string& sender,
                            std::string_view ownAddress);

// Whether the reading above, or GMime for it, looks at the field `name`:
// the fields named here, and every Content- field.
bool IsFieldRead(std::string_view name);

}  // namespace emailaccess
