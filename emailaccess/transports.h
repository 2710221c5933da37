// The ways of moving mail, as one table: for each transport the settings
// name (transport = ...), how to open what sends and what holds the replies,
// what --check reports, and where its intake keeps its records. The program
// looks its transport up once and asks the row; a further transport is one
// row here, its settings in config.cpp's table of transports, and its
// folder of code.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/transport.h"

#include <memory>
#include <string>
#include <vector>

namespace emailaccess {

struct Transport {
  const char* name;  // as in the settings: kTransportMaildir ...
  std::unique_ptr<IMailSender> (*openSender)(const Config& config, EventLog& log);
  std::unique_ptr<IMailStore> (*openStore)(const Config& config, EventLog& log);
  // Adds what --check finds about the transport (logs in; sends and moves nothing).
  void (*check)(const Config& config, EventLog& log, std::vector<CheckFinding>& findings);
  // The file beside the program that records the replies offered from it.
  const char* stateFileName;
  // The local queue (full path) that keeps what cannot be sent yet for the
  // next run; null for a transport that hands every message over at once.
  std::string (*queue)(const Config& config);
  // Delivers into folders on this computer: nothing leaves it.
  bool staysOnThisComputer;
};

// The transport the settings name (they were checked when read).
const Transport& TransportOf(const Config& config);
// Outlook, which reads the replies when the caller asks for it (flag 1),
// whatever transport sends the mail.
const Transport& OutlookTransportRow();

}  // namespace emailaccess
