// The outgoing exchange file, read by the mail-access program from arbitrary
// bytes: the body and every recipient come out as UTF-8, the body with CR LF
// breaks only, names and addresses on one line. Whatever was read is then
// written again the way LvMAPI writes it (elements, then its line-break
// normaliser) and read back: the same recipients and the same body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emailaccess/message/exchange_files.h"
#include "emailaccess/message/text_encoding.h"
#include "fuzz_checks.h"
#include "mail/exchange.h"
#include "mail/mail_recipient.h"
#include "util/text_files.h"

namespace {

using fuzzing::Require;

bool OnOneLine(const std::string& text) { return text.find_first_of("\r\n\t") == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  emailaccess::OutgoingExchange read;
  std::string error;
  if (!emailaccess::ParseOutgoingExchange(input, read, error)) {
    Require(!error.empty(), "a refused file says why");
    Require(read.recipients.empty() && read.body.empty(), "a refused file yields nothing");
    return 0;
  }
  Require(emailaccess::IsValidUtf8(read.body), "body is UTF-8");
  Require(fuzzing::IsCanonicalCrlf(read.body), "body has CR LF breaks only");
  bool tagFree = read.body.find('\0') == std::string::npos;
  for (const emailaccess::Recipient& r : read.recipients) {
    Require(emailaccess::IsValidUtf8(r.name) && emailaccess::IsValidUtf8(r.address), "recipient is UTF-8");
    Require(OnOneLine(r.name) && OnOneLine(r.address), "recipient fields are single lines");
    tagFree = tagFree && r.name.find('<') == std::string::npos && r.address.find('<') == std::string::npos;
  }
  if (!tagFree) return 0;

  // Written again as LvMAPI writes it. Values holding '<' could hold tags,
  // which LvMAPI never escapes, so only tag-free values make the round trip.
  std::vector<MailRecipient> recipients;
  for (const emailaccess::Recipient& r : read.recipients) {
    MailRecipient m;
    m.FirstName = r.name;
    m.Email = r.address;
    recipients.push_back(m);
  }
  std::string file = OutgoingExchangeText(recipients, read.body);
  NormalizeLineBreaks(file);

  emailaccess::OutgoingExchange again;
  Require(emailaccess::ParseOutgoingExchange(file, again, error), "LvMAPI's file is read");
  Require(again.body == read.body, "the body survives writer and reader");
  Require(again.recipients.size() == read.recipients.size(), "as many recipients as were written");
  for (size_t i = 0; i < again.recipients.size(); ++i) {
    Require(again.recipients[i].name == read.recipients[i].name, "recipient name survives");
    Require(again.recipients[i].address == read.recipients[i].address, "recipient address survives");
  }
  return 0;
}
