#include "emailaccess/sending.h"

#include "emailaccess/exchange_files.h"
#include "emailaccess/text_encoding.h"
#include "platform/files.h"

#include <stdexcept>

namespace emailaccess {

SendOutcome SendFromExchangeFile(IMailSender& sender, EventLog& log, const Mailbox& from,
                                 const std::string& exchangeFile, const std::string& subject) {
  std::string text, why;
  if (!platform::ReadWholeFile(exchangeFile, text, &why)) throw std::runtime_error("cannot read the exchange file: " + why);
  OutgoingExchange exchange;
  if (!ParseOutgoingExchange(text, exchange, why)) throw std::runtime_error(exchangeFile + ": " + why);

  // The subject is one header line, whatever the caller's text holds.
  const std::string cleanSubject = SingleLine(Utf8OrWindows1252(subject));
  SendOutcome outcome;
  outcome.temporary = true;
  if (exchange.recipients.empty()) log.Info("no recipients in " + exchangeFile + "; nothing sent");
  const auto now = std::chrono::system_clock::now();
  for (const Recipient& recipient : exchange.recipients) {
    const std::string who = recipient.name.empty() ? recipient.address : recipient.name + " <" + recipient.address + ">";
    if (!IsPlainAddress(recipient.address)) {
      log.Error("recipient skipped, not an e-mail address: \"" + who + "\"");
      ++outcome.invalidRecipients;
      continue;
    }
    ComposedMessage message = ComposeMessage(from, recipient, cleanSubject, exchange.body, now);
    try {
      const std::string where = sender.Send(recipient.address, message.data);
      log.Info("sent \"" + cleanSubject + "\" to " + who + ", Message-ID <" + message.messageId + ">, " + where);
      ++outcome.sent;
    } catch (const TransportError& e) {
      log.Error("cannot send to " + who + ": " + e.what());
      ++outcome.failed;
      outcome.temporary = outcome.temporary && e.temporary();
    }
  }
  if (outcome.failed == 0) outcome.temporary = false;
  return outcome;
}

}  // namespace emailaccess
