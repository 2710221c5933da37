// What an IMAP server sends back, read by the IMAP store's parsers. The
// input is handed whole to every response parser (as libcurl hands over the
// untagged lines), and also read as a message key, as a date, and as a text
// to quote. None may throw, and what they give back must hold together:
// a key or a UID set written by the store reads back as itself, quoting
// gives a valid quoted string that reads back as the text (or nothing), and
// a date inside a FETCH line means what the date alone means. An answer
// with message texts (literals) is read only when whole: the input's texts
// written as Dovecot answers read back as themselves, and no part of that
// answer cut short is taken for a whole one. The seeds
// are Dovecot's own answers (recorded from the Dovecot the server tests
// start) to the commands the store sends, and the inputs that broke a parser.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emailaccess/imap/imap_protocol.h"
#include "fuzz_checks.h"

namespace {

using fuzzing::Require;
using namespace emailaccess;

bool Printable(unsigned char c) { return c >= 0x20 && c < 0x7f; }

// A quoted string as the grammar has it: quotes around printable ASCII in
// which every quote and backslash is escaped by a backslash.
bool IsValidQuotedString(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return false;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(quoted[i]);
    if (!Printable(c) || c == '"') return false;
    if (c == '\\') {
      if (i + 2 >= quoted.size() || (quoted[i + 1] != '"' && quoted[i + 1] != '\\')) return false;
      ++i;
    }
  }
  return true;
}

void CheckQuoting(const std::string& text) {
  const std::optional<std::string> quoted = ImapQuoted(text);
  const bool quotable = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return Printable(static_cast<unsigned char>(c));
  });
  Require(quoted.has_value() == quotable, "exactly the printable ASCII texts are quoted");
  if (!quoted) return;
  Require(IsValidQuotedString(*quoted), "quoting gives a valid quoted string");
  Require(ListResponseNames("* LIST (\\HasNoChildren) \"/\" " + *quoted + "\r\n", text),
          "a quoted folder name reads back as itself");

  // The same text as a FETCH date: what the date alone means, or not given.
  const auto fetched = ParseFetchResponse("* 1 FETCH (UID 7 INTERNALDATE " + *quoted + ")\r\n");
  Require(fetched.size() == 1 && fetched[0].uid == 7, "a FETCH line with a UID is read");
  Require(fetched[0].internalDateNs == ParseInternalDate(text).value_or(0), "a FETCH date means the date");
}

void CheckKeys(const std::string& text) {
  if (const std::optional<ImapKey> key = ParseImapKey(text)) {
    Require(!key->mailbox.empty() && key->uidValidity != 0 && key->uid != 0, "a key names mailbox, validity and UID");
    Require(ParseImapKey(FormatImapKey(*key)) == key, "a read key written again reads back as itself");
  }
  // A key the store writes, from the input's bytes: a mailbox and two numbers.
  if (text.size() < 9) return;
  ImapKey written;
  std::memcpy(&written.uidValidity, text.data(), 4);
  std::memcpy(&written.uid, text.data() + 4, 4);
  written.mailbox = text.substr(8);
  if (written.uidValidity == 0 || written.uid == 0) return;
  Require(ParseImapKey(FormatImapKey(written)) == written, "a written key reads back as itself");
}

void CheckUidSets(const std::string& text) {
  // The input's bytes as UIDs, sorted and without repeats, as the store has them.
  std::vector<std::uint32_t> uids(text.size() / 4);
  if (!uids.empty()) std::memcpy(uids.data(), text.data(), uids.size() * 4);
  for (std::uint32_t& uid : uids) uid = uid % 2 ? uid : uid % 64;  // runs, and the numbers at the very top
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
  const std::string set = ImapUidSet(uids);
  Require(ParseEsearchResponse("* ESEARCH (TAG \"A3\") UID ALL " + set + "\r\n") == uids,
          "a UID set reads back as its UIDs");
}

// The input split at its zero bytes into message texts, answered as
// Dovecot does, read back; every shorter start of the answer is refused.
void CheckFetchedMessages(const std::string& text) {
  std::vector<FetchedMessage> messages;
  std::string answer;
  size_t start = 0;
  for (std::uint32_t uid = 1; start <= text.size() && uid <= 8; ++uid) {
    const size_t end = std::min(text.find('\0', start), text.size());
    messages.push_back({uid * 7, text.substr(start, end - start)});
    answer += "* " + std::to_string(uid) + " FETCH (UID " + std::to_string(uid * 7) + " BODY[] {" +
              std::to_string(end - start) + "}\r\n" + messages.back().text + ")\r\n";
    start = end + 1;
  }
  answer += "A5 OK Fetch completed.\r\n";
  Require(ParseFetchedMessages(answer) == messages, "message texts read back as themselves");
  // Received piece by piece, the answer ends where it ends, never inside a
  // message, whatever lines the messages hold.
  std::string received;
  size_t scanned = 0;
  for (size_t at = 0; at < answer.size(); at += 1 + at % 97) {
    received = answer.substr(0, at);
    Require(!ImapAnswerEnd(received, "A5", scanned), "an answer not all arrived has no end");
  }
  Require(ImapAnswerEnd(answer, "A5", scanned) == answer.size(), "a whole answer ends after its tagged line");
  // Every line end is where libcurl may have stopped reading.
  for (size_t cut = answer.find('\n'); cut + 1 < answer.size(); cut = answer.find('\n', cut + 1)) {
    Require(!ParseFetchedMessages(answer.substr(0, cut + 1)), "an answer cut short is not taken for a whole one");
  }
}

void CheckResponses(const std::string& text) {
  ParseSearchResponse(text);
  Require(ParseEsearchResponse(text).size() <= 1000000, "a UID set is cut at a million");
  for (const FetchedFlags& entry : ParseFetchResponse(text)) Require(entry.uid != 0, "a fetched message has a UID");
  ParseStatusValue(text, "UIDVALIDITY");
  for (const std::string& capability : ParseCapabilities(text)) {
    Require(std::none_of(capability.begin(), capability.end(), [](char c) { return c >= 'a' && c <= 'z'; }),
            "capabilities are upper case");
  }
  ListResponseNames(text, "INBOX");
  ParseResponseCode(text, "UIDVALIDITY");
  size_t from = 0;
  if (const auto end = ImapAnswerEnd(text, "A1", from)) Require(*end <= text.size() && text[*end - 1] == '\n', "an answer ends with its line");
  if (const auto messages = ParseFetchedMessages(text)) {
    for (const FetchedMessage& message : *messages) Require(message.uid != 0, "a fetched text has a UID");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    CheckResponses(text);
    CheckKeys(text);
    CheckUidSets(text);
    CheckFetchedMessages(text);
    CheckQuoting(text);
    // Each line on its own as a date, as it may stand inside any FETCH.
    size_t pos = 0;
    while (pos < text.size()) {
      const size_t end = std::min(text.find('\n', pos), text.size());
      if (end - pos <= 64) CheckQuoting(text.substr(pos, end - pos));
      pos = end + 1;
    }
  } catch (...) {
    Require(false, "no parser of IMAP responses throws");
  }
  return 0;
}
