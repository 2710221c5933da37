#include "emailaccess/command_line.h"

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/intake.h"
#include "emailaccess/maildir_transport.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/sending.h"
#include "platform/file_lock.h"
#include "platform/files.h"

#include <functional>
#include <memory>
#include <ostream>

#ifndef LVEMAILACCESS_VERSION
#define LVEMAILACCESS_VERSION "0.0.0"
#endif

namespace emailaccess {
namespace {

constexpr const char kLockFileName[] = "LVEmailAccess.lock";

constexpr const char kUsage[] =
    "Usage: LVEmailAccess <operation> <exchange file> <subject> <flag>\n"
    "       LVEmailAccess --acknowledge | --check | --help | --version\n"
    "\n"
    "Operations:\n"
    "  1, 2  send the body of the exchange file to each recipient listed in it,\n"
    "        one message per recipient, with the given subject\n"
    "  4     write the replies whose subject contains <subject> (letter case\n"
    "        ignored) into the exchange file, which is created\n"
    "<flag>  0 or 1; 1 asked for Outlook automation, which this program does\n"
    "        not use\n"
    "\n"
    "--acknowledge  move the replies whose exchange file has been consumed to\n"
    "           the processed folder now (operation 4 does it when it starts)\n"
    "--check    check the configuration and the mailboxes and report\n"
    "--help     show this text\n"
    "--version  show the version\n"
    "\n"
    "Settings: LVEmailAccess.conf beside the program (see\n"
    "LVEmailAccess.conf.example); without it, Maildir folders under Mail/.\n"
    "Log: LVEmailAccess.log beside the program.\n"
    "Exit status: 0 done, 64 bad arguments, 78 bad configuration,\n"
    "75 temporary failure, 1 any other failure.\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Operation {
  int number = 0;
  std::string exchangeFile;
  std::string subject;
  int flag = 0;
};

Operation ParseOperation(const std::vector<std::string>& args) {
  if (args.size() != 4) throw UsageError("expected 4 arguments, got " + std::to_string(args.size()));
  Operation op;
  if (args[0] == "1" || args[0] == "2" || args[0] == "4") {
    op.number = args[0][0] - '0';
  } else {
    throw UsageError("unknown operation '" + args[0] + "' (1, 2 or 4)");
  }
  op.exchangeFile = args[1];
  if (op.exchangeFile.empty()) throw UsageError("the exchange file name is empty");
  op.subject = args[2];
  // An empty text would match every message in the mailbox.
  if (op.number == 4 && op.subject.empty()) throw UsageError("operation 4 needs a subject to look for");
  if (args[3] != "0" && args[3] != "1") throw UsageError("the flag must be 0 or 1, not '" + args[3] + "'");
  op.flag = args[3][0] - '0';
  return op;
}

int Send(const Config& config, EventLog& log, const Operation& op) {
  MaildirTransport transport(config.maildir);
  log.Info("operation " + std::to_string(op.number) + ": sending " + op.exchangeFile + " with subject \"" +
           op.subject + "\"");
  SendOutcome outcome = SendFromExchangeFile(transport, log, Mailbox{config.senderName, config.senderAddress},
                                             op.exchangeFile, op.subject);
  if (op.number == 1 && outcome.sent + outcome.invalidRecipients + outcome.failed > 1) {
    log.Info("operation 1 is meant for one recipient; all listed recipients were handled");
  }
  log.Info("operation " + std::to_string(op.number) + " done: " + std::to_string(outcome.sent) + " sent, " +
           std::to_string(outcome.invalidRecipients) + " invalid recipient(s), " + std::to_string(outcome.failed) +
           " failed");
  if (outcome.failed > 0) return outcome.temporary ? kExitTemporary : kExitFailure;
  return outcome.invalidRecipients > 0 ? kExitFailure : kExitDone;
}

std::string Summary(const FetchOutcome& outcome) {
  return std::to_string(outcome.offered) + " reply(ies) offered, " + std::to_string(outcome.skipped) +
         " automatic skipped, " + std::to_string(outcome.processed) + " acknowledged, " +
         std::to_string(outcome.reoffered) + " offered again, " + std::to_string(outcome.failures) + " failure(s)";
}

// Runs one intake step under the intake lock.
int WithIntakeLock(const Config& config, EventLog& log, const std::function<FetchOutcome(IMailStore&)>& step) {
  platform::FileLock lock;
  std::string why;
  switch (lock.Acquire(config.FileBesideProgram(kLockFileName), std::chrono::seconds(config.lockWaitSeconds), &why)) {
    case platform::FileLock::Result::Acquired:
      break;
    case platform::FileLock::Result::Busy:
      log.Error("another intake is running: " + why);
      return kExitTemporary;
    case platform::FileLock::Result::Failed:
      log.Error(why);
      return kExitFailure;
  }
  MaildirTransport transport(config.maildir);
  const FetchOutcome outcome = step(transport);
  log.Info("done: " + Summary(outcome));
  return outcome.failures > 0 ? kExitFailure : kExitDone;
}

int Fetch(const Config& config, EventLog& log, const Operation& op) {
  log.Info("operation 4: fetching replies about \"" + op.subject + "\" into " + op.exchangeFile);
  const FetchRequest request{op.exchangeFile, op.subject, config.senderAddress, config.FileBesideProgram(kStateFileName)};
  return WithIntakeLock(config, log, [&](IMailStore& store) { return FetchReplies(store, log, request); });
}

int Acknowledge(const Config& config, EventLog& log) {
  log.Info("acknowledging consumed exchange files");
  const std::string statePath = config.FileBesideProgram(kStateFileName);
  return WithIntakeLock(config, log, [&](IMailStore& store) { return AcknowledgeConsumed(store, log, statePath); });
}

int Check(const Config& config, std::ostream& out) {
  out << "Configuration: " << config.source << "\n";
  out << "Sender: " << (config.senderName.empty() ? "" : config.senderName + " ") << "<" << config.senderAddress
      << ">\n";
  out << "Transport: " << config.transport << "\n";
  std::vector<CheckFinding> findings;
  MaildirTransport transport(config.maildir);
  transport.Check(findings);
  std::vector<std::string> problems;
  const std::string statePath = config.FileBesideProgram(kStateFileName);
  const size_t open = LoadOfferRecords(statePath, problems).size();
  for (const std::string& problem : problems) findings.push_back({false, problem});
  findings.push_back({true, "Intake state (" + statePath + "): " + std::to_string(open) + " open record(s)"});
  bool healthy = true;
  for (const CheckFinding& finding : findings) {
    out << (finding.ok ? "  ok       " : "  PROBLEM  ") << finding.text << "\n";
    healthy = healthy && finding.ok;
  }
  out << (healthy ? "Everything is in order.\n" : "Problems found.\n");
  return healthy ? kExitDone : kExitFailure;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                   std::ostream& err) {
  if (args.size() == 1 && args[0] == "--help") {
    out << kUsage;
    return kExitDone;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << "LVEmailAccess " << LVEMAILACCESS_VERSION << "\n";
    return kExitDone;
  }
  EventLog log(programDir + kLogFileName, err);
  try {
    const bool check = args.size() == 1 && args[0] == "--check";
    const bool acknowledge = args.size() == 1 && args[0] == "--acknowledge";
    Operation op;
    if (!check && !acknowledge) op = ParseOperation(args);
    const Config config = LoadConfig(programDir);
    if (check) return Check(config, out);
    if (acknowledge) return Acknowledge(config, log);
    if (op.flag == 1) log.Info("flag 1 (Outlook automation) given; it has no meaning for this transport");
    return op.number == 4 ? Fetch(config, log, op) : Send(config, log, op);
  } catch (const UsageError& e) {
    log.Error("bad arguments: " + std::string(e.what()));
    err << kUsage;
    return kExitUsage;
  } catch (const ConfigError& e) {
    log.Error("bad configuration: " + std::string(e.what()));
    return kExitConfig;
  } catch (const TransportError& e) {
    log.Error(e.what());
    return e.temporary() ? kExitTemporary : kExitFailure;
  } catch (const std::exception& e) {
    log.Error(e.what());
    return kExitFailure;
  }
}

}  // namespace emailaccess
