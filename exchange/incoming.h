// The incoming exchange file (operation 4): the replies the mail-access
// program fetched. It writes the file with FormatIncomingExchange (or record
// by record with FormatIncomingRecord) and LvMAPI reads it with
// ReadIncomingRecords; nothing else writes or reads it.
//
// For reply n = 1, 2, ... without gaps: the elements Originator<n> (the
// sender's address), Date<n> ("YYYY-MM-DD HH:MM:SS", local time) and
// Body<n> (UTF-8, CR LF line breaks), each followed by CR LF. A value's own
// Originator, Date and Body tags are broken (elements.h), so a reply can
// never forge or hide another; the reader takes the values as they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace exchange {

struct IncomingRecord {
  std::string originator, date, body;
};

// Breaks every Originator, Date or Body tag of `value`, with or without a
// number ("<Body2>", "</Body1>", "<Date>"), by a blank after its "<". Other
// tags ("<answer1>", "<Status>") stay. Returns how many tags were broken.
std::size_t NeutraliseExchangeTags(std::string& value);

// The incoming file for `replies`, numbered from 1. The number of tags
// broken is added to `*neutralised` when given.
std::string FormatIncomingExchange(const std::vector<IncomingRecord>& replies, std::size_t* neutralised = nullptr);

// The elements of one reply, numbered `number`, as FormatIncomingExchange
// writes them: the file is these, one reply after the other.
std::string FormatIncomingRecord(int number, const IncomingRecord& reply, std::size_t* neutralised = nullptr);

// Looks up the element "<name><number>" in `text` (both tags searched from the
// start of the whole text, first occurrences count, case-sensitive) and gives
// its value less leading spaces. False, with `value` empty, when either tag
// is missing.
bool GetNumberedTagValue(const std::string& text, const std::string& tagName, int number, std::string& value);

// The replies of an incoming file: records 1, 2, ... through
// GetNumberedTagValue, up to the first that lacks its Originator, Date or
// Body, and at most `limit` of them.
std::vector<IncomingRecord> ReadIncomingRecords(const std::string& text, std::size_t limit = SIZE_MAX);

}  // namespace exchange
