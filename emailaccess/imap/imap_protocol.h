// The pieces of IMAP text that the IMAP store writes and reads, as pure
// functions: quoting, UID sets, message keys, and the untagged responses of
// SEARCH, FETCH, STATUS, CAPABILITY and LIST (as libcurl hands them over:
// one "* ..." line each, CR LF ends). Parsers never throw; what they do not
// recognise they leave out.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

// `text` as an IMAP quoted string ("a \"b\""), or nullopt when a quoted
// string cannot carry it: empty, a control character, or a byte beyond
// ASCII. Nothing unquoted ever reaches a command.
std::optional<std::string> ImapQuoted(std::string_view text);

// Sorted UIDs as a compact set: 1:3,7,9:10.
std::string ImapUidSet(const std::vector<std::uint32_t>& sortedUids);

// A message's key: mailbox, UIDVALIDITY and UID, in the form of libcurl's
// URL parameters: "INBOX;UIDVALIDITY=1796699736;UID=45".
struct ImapKey {
  std::string mailbox;
  std::uint32_t uidValidity = 0;
  std::uint32_t uid = 0;

  bool operator==(const ImapKey&) const = default;
};
std::string FormatImapKey(const ImapKey& key);
std::optional<ImapKey> ParseImapKey(std::string_view text);

// The numbers of "* SEARCH 3 4 9" lines.
std::vector<std::uint32_t> ParseSearchResponse(std::string_view untagged);

// The UIDs of "* ESEARCH (TAG "A5") UID ALL 1:3,7" lines (none without ALL).
// A set naming more than a million UIDs is cut there.
std::vector<std::uint32_t> ParseEsearchResponse(std::string_view untagged);

struct FetchedFlags {
  std::uint32_t uid = 0;
  bool seen = false;
  std::int64_t internalDateNs = 0;  // 0 when not given or not readable
  std::uint64_t size = 0;           // RFC822.SIZE; 0 when not given
};
// "* 12 FETCH (UID 45 FLAGS (\Seen) INTERNALDATE "08-Dec-2026 03:15:36 +0000" RFC822.SIZE 1776)"
std::vector<FetchedFlags> ParseFetchResponse(std::string_view untagged);

// A message's text from an answer to "UID FETCH <set> BODY.PEEK[]" (or a
// section of it, such as BODY.PEEK[HEADER]).
struct FetchedMessage {
  std::uint32_t uid = 0;
  std::string text;

  bool operator==(const FetchedMessage&) const = default;
};
// `transcript` is every line libcurl passed to its header callback while
// such a command ran: the server's whole answer, message texts included,
// since libcurl hands a custom command's literals over only that way. It is
// read as IMAP responses, each literal ("{1776}" at a line's end) by the
// length it announces. The answer counts only when complete: every literal
// whole and, last and outside any literal, a tagged OK. libcurl reads lines,
// not literals, so a message line that merely looks like the command's end
// ends its reading early; that shows here as an unfinished literal or a
// missing tagged line, and gives nullopt. Messages come in the order given;
// FETCH responses without UID or text are left out.
std::optional<std::vector<FetchedMessage>> ParseFetchedMessages(std::string_view transcript);

// Whether the last line of a whole answer (as ImapAnswerEnd cuts it), its
// tagged line, says OK.
bool ImapTaggedOk(std::string_view answer);

// Where the answer to the command tagged `tag` ends in `received`: just
// after the LF of the line "<tag> ...", found only where a response starts,
// each literal being skipped by the length it announces, so that a message
// line that looks like the tagged line never ends the answer early. nullopt
// while it has not all arrived. `from` is where the scan goes on, a line
// start (0 at first); it is moved past every line found complete, so a
// caller receiving piece by piece scans each byte about once.
std::optional<size_t> ImapAnswerEnd(std::string_view received, std::string_view tag, size_t& from);

// The number of a response code such as "* OK [UIDVALIDITY 3857529045]".
std::optional<std::uint32_t> ParseResponseCode(std::string_view untagged, std::string_view code);

// "17-Jul-1996 02:44:25 -0700" as nanoseconds since 1970 (UTC); nullopt when
// it is not such a date.
std::optional<std::int64_t> ParseInternalDate(std::string_view text);

// UIDVALIDITY of a "* STATUS INBOX (... UIDVALIDITY n ...)" line.
std::optional<std::uint32_t> ParseStatusValue(std::string_view untagged, std::string_view item);

// The capabilities of "* CAPABILITY ..." lines, upper case.
std::set<std::string> ParseCapabilities(std::string_view untagged);

// True when a "* LIST (...) sep name" line names `folder` (quoted or not).
bool ListResponseNames(std::string_view untagged, std::string_view folder);

}  // namespace emailaccess
