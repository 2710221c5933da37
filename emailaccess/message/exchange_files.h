// The two text files exchanged with LvMAPI.
//
// Outgoing (operations 1 and 2, written by LvMAPI): numbered Recipient/Email
// elements, then one Body element. Incoming (operation 4, written here):
// numbered Originator/Date/Body elements per reply. Elements are
// "<Name>value</Name>" with nothing escaped; LvMAPI finds each element by the
// first occurrence of its tags, so a value must never hold a tag of the
// incoming file itself: NeutraliseExchangeTags breaks such tags.
//
// Pure functions; parsing reports a missing body through its result.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

struct Recipient {
  std::string name;     // display name, UTF-8, may be empty
  std::string address;  // as written in the file, trimmed
};

struct OutgoingExchange {
  std::vector<Recipient> recipients;
  std::string body;  // UTF-8, every line break CR LF
};

// Reads an outgoing exchange file. Line breaks are made canonical first, then
// each value is taken as UTF-8 when valid and as Windows-1252 otherwise.
// Recipients are read for N = 1, 2, ... until RecipientN or EmailN is missing,
// and only in the text before the body, so a body can never add recipients.
// The body runs from the first "<Body>" to the last "</Body>". False, with
// the reason in `error`, when there is no complete body element.
bool ParseOutgoingExchange(std::string_view fileText, OutgoingExchange& out, std::string& error);

struct ReplyRecord {
  std::string originator;  // the sender's address
  std::string date;        // "YYYY-MM-DD HH:MM:SS", local time
  std::string body;        // UTF-8, CR LF line breaks
};

// Breaks every opening or closing Originator, Date or Body tag, with or
// without a number ("<Body2>", "</Body1>", "<Date>"), by putting a blank
// after its "<". Other tags ("<answer1>", "<Status>") stay. Returns how many
// tags were broken.
size_t NeutraliseExchangeTags(std::string& value);

// The incoming exchange file for `replies`, numbered from 1, every element
// followed by CR LF. Values are neutralised first; the number of broken tags
// is added to `*neutralised` when given.
std::string FormatIncomingExchange(const std::vector<ReplyRecord>& replies, size_t* neutralised = nullptr);

// The elements of one reply, numbered `number`, as FormatIncomingExchange
// writes them: the file is these, one reply after the other.
std::string FormatIncomingRecord(int number, const ReplyRecord& reply, size_t* neutralised = nullptr);

}  // namespace emailaccess
