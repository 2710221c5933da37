// The outgoing exchange file, both ways. Read by the mail-access program
// from arbitrary bytes, a file is either refused with a reason and nothing
// in it, or gives a body and recipients as UTF-8, the body with CR LF
// breaks only, names and addresses on one line. Written by LvMAPI's writer,
// any values (cut from the input, element-like text and all) are read back
// exactly, names and addresses less the blanks around them; and what the
// program read is written again the way LvMAPI writes it (elements, then its
// line-break normaliser) and read back as the same recipients and body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/message/text_encoding.h"
#include "emailaccess/sending.h"
#include "exchange/outgoing.h"
#include "fuzz_checks.h"
#include "util/text_files.h"

namespace {

using fuzzing::Require;

bool OnOneLine(const std::string& text) { return text.find_first_of("\r\n\t") == std::string::npos; }

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// Values cut from raw bytes at NUL bytes: the body, then name and address of
// each recipient, and the mailing when one field is left over.
exchange::Outgoing ValuesFromBytes(std::string_view input) {
  const std::vector<std::string> fields = fuzzing::Fields(input, '\0', 41);
  exchange::Outgoing values;
  values.body = fields[0];
  size_t i = 1;
  for (; i + 1 < fields.size(); i += 2) values.recipients.push_back({fields[i], fields[i + 1]});
  if (i < fields.size()) values.mailing = fields[i];
  return values;
}

void CheckWrittenValuesComeBack(std::string_view input) {
  const exchange::Outgoing written = ValuesFromBytes(input);
  exchange::Outgoing read;
  std::string error;
  Require(exchange::ReadOutgoing(exchange::FormatOutgoing(written.recipients, written.body, written.mailing), read, error),
          "what LvMAPI writes is never refused");
  Require(read.mailing == Trimmed(written.mailing), "the mailing comes back");
  Require(read.body == written.body, "the body comes back exactly");
  Require(read.recipients.size() == written.recipients.size(), "every recipient comes back, no one else");
  for (size_t i = 0; i < read.recipients.size(); ++i) {
    Require(read.recipients[i].name == Trimmed(written.recipients[i].name), "each name comes back");
    Require(read.recipients[i].address == Trimmed(written.recipients[i].address), "each address comes back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckWrittenValuesComeBack(input);

  exchange::Outgoing read;
  std::string error;
  if (!emailaccess::ReadOutgoingExchange(input, read, error)) {
    Require(!error.empty(), "a refused file says why");
    Require(read.recipients.empty() && read.body.empty(), "a refused file yields nothing");
    return 0;
  }
  Require(emailaccess::IsValidUtf8(read.body), "body is UTF-8");
  Require(fuzzing::IsCanonicalCrlf(read.body), "body has CR LF breaks only");
  for (const exchange::Recipient& r : read.recipients) {
    Require(emailaccess::IsValidUtf8(r.name) && emailaccess::IsValidUtf8(r.address), "recipient is UTF-8");
    Require(OnOneLine(r.name) && OnOneLine(r.address), "recipient fields are single lines");
  }
  Require(emailaccess::IsValidUtf8(read.mailing) && OnOneLine(read.mailing), "the mailing is one line of UTF-8");
  if (read.body.find('\0') != std::string::npos) return 0;

  // Written again as LvMAPI writes it: element-like text in any value is
  // written so that it stays text.
  std::string file = exchange::FormatOutgoing(read.recipients, read.body, read.mailing);
  NormalizeLineBreaks(file);
  exchange::Outgoing again;
  Require(emailaccess::ReadOutgoingExchange(file, again, error), "LvMAPI's file is read");
  Require(again.body == read.body, "the body survives writer and reader");
  Require(again.mailing == read.mailing, "the mailing survives writer and reader");
  Require(again.recipients.size() == read.recipients.size(), "as many recipients as were written");
  for (size_t i = 0; i < again.recipients.size(); ++i) {
    Require(again.recipients[i].name == read.recipients[i].name, "recipient name survives");
    Require(again.recipients[i].address == read.recipients[i].address, "recipient address survives");
  }
  return 0;
}
