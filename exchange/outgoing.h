// The outgoing exchange file (operations 1 and 2): what LvMAPI wants sent.
// LvMAPI writes it with FormatOutgoing and the mail-access program reads it
// with ReadOutgoing; nothing else writes or reads it.
//
// The text is the element Mailing, which names what is being mailed, when
// the caller names it, followed by a line feed; then, for recipient
// n = 1, 2, ... in list order, the element
// Recipient<n> holding the display name and Email<n> holding the address,
// each followed by a line feed; then the element Body holding the message,
// with nothing after it. Values are written as elements.h tells, so no name,
// address or body can open or close an element: what is read is what was
// written. LvMAPI turns every line break into CR LF on the way to the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace exchange {

struct Recipient {
  std::string name;     // display name, may be empty
  std::string address;
};

struct Outgoing {
  // What is being mailed, the same text every time the same thing is mailed
  // ("survey {GUID}", "goal {GUID}"), so that the mail-access program can
  // tell a second run of one mailing from a new mailing; empty when the file
  // names none.
  std::string mailing;
  std::vector<Recipient> recipients;
  std::string body;
};

// Without `mailing` (empty), no Mailing element is written.
std::string FormatOutgoing(const std::vector<Recipient>& recipients, std::string_view body,
                           std::string_view mailing = {});

// Reads an outgoing file's text. The body runs from the first "<Body>" to
// the last "</Body>"; before it stand only the Mailing element (at most
// once, its value losing the blanks and line breaks around it) and the
// recipient elements, each
// opened and closed once, one after the other, numbered 1 to n without a
// gap, a Recipient<n> for every Email<n> and the reverse. Names and
// addresses lose the blanks and line breaks around them. Bytes are given as
// they are (no character set is assumed). False, with `out` empty and the
// reason in `error`, for a file without its body, with more than one
// Mailing, or whose recipient elements do not pair up one to one: such a
// file is not sent at all.
bool ReadOutgoing(std::string_view text, Outgoing& out, std::string& error);

}  // namespace exchange
