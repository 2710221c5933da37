// Whether a reply may be believed to come from its sender, before anything
// of it reaches LvMAPI.
//
// The sender is the From address alone, and it must be one plain address
// that no byte cut short. A reply is believed when it carries the key of a
// message we sent to that same address (its Message-ID, named in
// In-Reply-To or References: only the recipient has seen it), or when the
// church's own mail provider confirmed the sender (DMARC pass in its own
// Authentication-Results field, authentication_results.h). A dmarc=fail
// from that provider is never believed, whatever key the reply carries.
// What is not believed is read by a person: the reason says why, in the
// words of the run log's "Not stored, left for reading: ..." line.
#pragma once

#include "emailaccess/message/message_text.h"
#include "emailaccess/sent_register.h"

#include <functional>
#include <optional>
#include <string>

namespace emailaccess {

// The mailing a Message-ID names, or null when it is none of ours.
using SentLookup = std::function<const SentMailing*(const std::string& messageId)>;

// Nothing when the reply is believed; else why not: "sent to <address>,
// answered from <address>", "the sender could not be confirmed" or "the
// provider found the sender forged". `authservId` is the provider setting.
std::optional<std::string> WhyNotBelieved(const IncomingMessage& reply, const SentLookup& sent,
                                          const std::string& authservId);

// The line that tells the office a message was left for reading:
// "Not stored, left for reading: the reply of <originator> dated <date>: <why>".
std::string LeftForReadingLine(const std::string& originator, const std::string& date, const std::string& why);

}  // namespace emailaccess
