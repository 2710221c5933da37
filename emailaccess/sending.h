// Operations 1 and 2: one message per recipient of an outgoing exchange
// file, handed to the mail sender.
//
// A recipient whose address is empty or not an address is skipped and
// logged; the others are still sent. An exchange file that cannot be read or
// has no body throws std::runtime_error before anything is sent; a delivery
// failure is logged and counted, and the remaining recipients are still
// tried. The exchange file itself is never changed or removed: it is
// LvMAPI's to delete.
#pragma once

#include "emailaccess/compose.h"
#include "emailaccess/event_log.h"
#include "emailaccess/transport.h"

#include <string>

namespace emailaccess {

struct SendOutcome {
  int sent = 0;
  int invalidRecipients = 0;
  int failed = 0;            // deliveries that failed
  bool temporary = false;    // every failure may pass by itself
};

SendOutcome SendFromExchangeFile(IMailSender& sender, EventLog& log, const Mailbox& from,
                                 const std::string& exchangeFile, const std::string& subject);

}  // namespace emailaccess
