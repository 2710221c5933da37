#include "emailaccess/command_line.h"

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"
#include "emailaccess/graph/graph_tasks.h"
#include "emailaccess/intake.h"
#include "emailaccess/ledger.h"
#include "emailaccess/maildir/maildir_transport.h"
#include "emailaccess/offer_state.h"
#include "emailaccess/outlook/outlook_session.h"
#include "emailaccess/sending.h"
#include "emailaccess/sent_register.h"
#include "emailaccess/signin/authorize.h"
#include "emailaccess/signin/oauth2.h"
#include "emailaccess/transports.h"
#include "exchange/operations.h"
#include "platform/durable_file.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_path.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#ifndef LVEMAILACCESS_VERSION
#define LVEMAILACCESS_VERSION "0.0.0"
#endif

namespace emailaccess {
namespace {

using exchange::kExitConfig;
using exchange::kExitDataError;
using exchange::kExitDone;
using exchange::kExitFailure;
using exchange::kExitTemporary;
using exchange::kExitUsage;

constexpr const char kLockFileName[] = "LVEmailAccess.lock";
// Whoever hands messages over, or writes the queue and the records kept of
// the sending, holds the hand-over lock (a mailing for its run, the sender
// in the background for each pass), so that no message goes out twice and
// no run writes over another's records. The sender lock is held by the
// sender in the background for its whole life, so that a second one leaves
// the work to it.
constexpr const char kHandOverLockFileName[] = "LVEmailAccess.sending.lock";
constexpr const char kSenderLockFileName[] = "LVEmailAccess.sender.lock";
// How long a mailing waits for the hand-over lock: a pass of the sender
// hands over what the pace allows at once (unpaced, all that waits).
constexpr std::chrono::seconds kHandOverWait(120);

// The usage text around the commands' own lines (kCommands below).
constexpr const char kUsageHead[] =
    "Usage: LVEmailAccess <operation> <exchange file> <subject> <flag>\n"
    "       LVEmailAccess --acknowledge | --send-queued | --check | --help | --version\n"
    "       LVEmailAccess --authorize\n"
    "\n"
    "Operations:\n"
    "  1, 2  send the body of the exchange file to each recipient listed in it,\n"
    "        one message per recipient, with the given subject\n"
    "  4     write the replies whose subject contains <subject> (letter case\n"
    "        ignored) into the exchange file, which is created; delivery\n"
    "        reports of our mailings are filed and told on standard output\n"
    "<flag>  0 or 1; with 1, operation 4 reads the replies through Outlook\n"
    "        (Windows), whatever transport sends the mail\n"
    "\n";
constexpr const char kUsageTail[] =
    "\n"
    "Settings: LVEmailAccess.conf beside the program (see\n"
    "LVEmailAccess.conf.example); without it, Outlook where the system has\n"
    "it installed, else Maildir folders under Mail/ (Windows without Outlook:\n"
    "exit 78, no mail provider is set up).\n"
    "Passwords may also come from LVEMAILACCESS_SMTP_PASSWORD and\n"
    "LVEMAILACCESS_IMAP_PASSWORD, the client secret from\n"
    "LVEMAILACCESS_OAUTH2_CLIENT_SECRET.\n"
    "Log: LVEmailAccess.log beside the program.\n"
    "Exit status: 0 done (the rest of a mailing left to the sender in the\n"
    "background), 64 bad arguments, 65 some recipients have no usable address\n"
    "(the others were sent), 78 bad configuration or login, 75 temporary\n"
    "failure (the next run completes it), 1 any other failure.\n";

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
  if (op.number == exchange::kFetchReplies && op.subject.empty()) {
    throw UsageError("operation 4 needs a subject to look for");
  }
  if (args[3] != "0" && args[3] != "1") throw UsageError("the flag must be 0 or 1, not '" + args[3] + "'");
  op.flag = args[3][0] - '0';
  return op;
}

// The run's one token source, given to each server that signs in with it.
void AttachTokens(Config& config, EventLog& log) {
  if (!config.UsesOAuth2()) return;
  auto tokens = std::make_shared<AccessTokens>(config, log);
  for (ServerSettings* server : {static_cast<ServerSettings*>(&config.smtp), static_cast<ServerSettings*>(&config.imap)}) {
    if (server->oauth2) server->tokens = tokens;
  }
  if (config.transport == kTransportGraph) config.graph.tokens = tokens;
}

// What keeps --authorize from running, or empty.
std::string AuthorizeObstacle(const Config& config) {
  if (!config.oauth2.present) return "--authorize needs an [oauth2] section with provider = in " + config.source;
  if (!config.oauth2.tokenCommand.empty()) {
    return "--authorize has nothing to do: [oauth2] token_command supplies the tokens";
  }
  return {};
}

// Where replies are read: through Outlook when the caller asked for it
// (flag 1, LvMAPI's setting 8), else through the transport's own store.
struct ReplySource {
  const Transport& transport;
  std::string statePath;
};

ReplySource ReplySourceOf(const Config& config, bool outlookAsked) {
  const Transport& transport = outlookAsked ? OutlookTransportRow() : TransportOf(config);
  return {transport, config.FileBesideProgram(transport.stateFileName)};
}

// The line for the office's run log (LvMAPI copies it from standard output):
// how many messages went where, and for local folders that nothing left the
// computer.
std::string DeliverySummary(const Config& config, const IMailSender& sender, const SendOutcome& outcome) {
  std::string line = std::to_string(outcome.sent) + " " + sender.Route();
  if (TransportOf(config).staysOnThisComputer) {
    line += config.source == kEmbeddedDefault ? ": no mail provider is set up, nothing has left this computer"
                                              : ": nothing has left this computer";
  }
  // Counted apart, never sent again: the office should not think them lost.
  if (outcome.answerLost > 0) {
    line += "; " + std::to_string(outcome.answerLost) +
            (outcome.answerLost == 1 ? " more was" : " more were") +
            " handed over but the server's answer was lost: probably delivered, not sent again (" + kLogFileName +
            " names them)";
  }
  return line;
}

// What one sending run met, beyond its counts.
struct SendPass {
  SendOutcome outcome;
  size_t listed = 0;             // messages in the queue before it
  size_t waiting = 0;            // messages in the queue after it
  std::int64_t nextAllowed = 0;  // when the pace lets the next message go (unix seconds)
};

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Sends the queue (servers only), then the exchange file when one is given,
// as far as the pace allows; for an exchange file, tells `out` where its
// messages went. The caller holds the hand-over lock.
SendPass SendOnce(const Config& config, EventLog& log, const Operation* op, std::ostream& out) {
  const Transport& transport = TransportOf(config);
  std::unique_ptr<IMailSender> sender = transport.openSender(config, log);
  std::optional<MaildirFolder> queue;
  if (transport.queue) queue.emplace(transport.queue(config));
  SendRun run(*sender, log, queue ? &*queue : nullptr);
  // A sender that writes the mail anew (Outlook) gives it a Message-ID of
  // its own, which is never seen here.
  if (sender->KeepsMessageId()) {
    run.KeepSentIn(config.FileBesideProgram(kSentRegisterFileName), config.replies.keepSentDays);
  }
  // The pace counts what went out in earlier runs too, and a provider's hold.
  const std::string pacePath = config.FileBesideProgram(kPaceFileName);
  SlidingWindow window = LoadWindow(config.smtp.pace, pacePath);
  if (queue) run.KeepPace(window, pacePath);
  Ledger ledger(config.FileBesideProgram(kLedgerFileName), config.mailings.remindAfterDays);
  run.KeepLedger(ledger);
  const size_t listed = queue ? queue->List().size() : 0;
  run.SendQueued();
  std::string what = "sending the queue";
  if (op) {
    what = "operation " + std::to_string(op->number);
    log.Info(what + ": sending " + op->exchangeFile + " with subject \"" + op->subject + "\"");
    run.SendExchangeFile(Mailbox{config.senderName, config.senderAddress}, op->exchangeFile, op->subject, op->number);
  }
  SendPass pass{run.outcome(), listed};
  const SendOutcome& outcome = pass.outcome;
  pass.nextAllowed = window.NextSendAllowed(NowSeconds());
  if (op && op->number == exchange::kSendGoalNotification &&
      outcome.sent + outcome.invalidRecipients + outcome.failed + outcome.queued > 1) {
    log.Info("operation 1 is meant for one recipient; all listed recipients were handled");
  }
  log.Info(what + " done: " + std::to_string(outcome.sent) + " sent, " + std::to_string(outcome.invalidRecipients) +
           " invalid recipient(s), " + std::to_string(outcome.failed) + " failed, " + std::to_string(outcome.queued) +
           " queued for a later run" +
           (outcome.answerLost ? ", " + std::to_string(outcome.answerLost) + " handed over with the answer lost" : "") +
           (outcome.alreadyHave ? ", " + std::to_string(outcome.alreadyHave) + " already have it or have it coming" : ""));
  if (op) {
    const std::string summary = DeliverySummary(config, *sender, outcome);
    log.Info(summary);
    out << summary << std::endl;
    if (const std::string office = run.OfficeLine(config.smtp.host); !office.empty()) {
      log.Info(office);
      out << office << std::endl;
    }
  }
  if (queue) pass.waiting = queue->List().size();
  return pass;
}

// Takes the lock `name` beside the program, waiting up to `wait`.
platform::FileLock::Result TakeLock(const Config& config, const char* name, std::chrono::milliseconds wait,
                                    platform::FileLock& lock, std::string& why) {
  return lock.Acquire(config.FileBesideProgram(name), wait, &why);
}

// Starts this program's --send-queued in the background, to send what
// waits at the pace once this run has ended; true when it is on its way.
bool StartSender(EventLog& log, size_t waiting) {
  const std::string self = platform::RunningProgramPath();
  std::string why = "the path of this program is not known";
  if (!self.empty() && platform::StartDetached(self, {"--send-queued"}, &why)) {
    log.Info("the sender is started in the background for the " + std::to_string(waiting) +
             " message(s) waiting in the queue");
    return true;
  }
  log.Warning("cannot start the sender in the background (" + why + "); the " + std::to_string(waiting) +
              " message(s) in the queue wait for the next run");
  return false;
}

// Operations 1 and 2: send what the pace allows now and leave the rest to a
// sender in the background. Done (0) when every message was sent or waits
// for that sender; 75 when the server cannot be reached at all (the
// queue keeps them for a later run), or when messages wait with no sender
// on its way.
int SendMailing(const Config& config, EventLog& log, const Operation& op, std::ostream& out) {
  platform::FileLock handOver;
  std::string why;
  switch (TakeLock(config, kHandOverLockFileName, kHandOverWait, handOver, why)) {
    case platform::FileLock::Result::Acquired:
      break;
    case platform::FileLock::Result::Busy:
      log.Error("another run has been sending for " + std::to_string(kHandOverWait.count()) + " s (" + why +
                "); nothing of this mailing was sent or queued, send it again later");
      return kExitTemporary;
    case platform::FileLock::Result::Failed:
      log.Error(why + "; nothing sent");
      return kExitFailure;
  }
  const SendPass pass = SendOnce(config, log, &op, out);
  const SendOutcome& outcome = pass.outcome;
  handOver.Release();  // before the sender in the background asks for it
  if (!TransportOf(config).queue) {
    // Without a queue, a failure that may pass by itself is a temporary one.
    if (outcome.failed > 0) return outcome.temporary ? kExitTemporary : kExitFailure;
    return outcome.invalidRecipients > 0 ? kExitDataError : kExitDone;
  }
  // Messages the server put off one by one (after the retries) are for a
  // later run, not for a sender at once; any other message that waits (held
  // back by the pace or the server, or queued by another run) goes out with
  // the sender.
  const bool putOff = outcome.queued > 0 && outcome.heldBy == Holdback::None;
  const bool senderOnItsWay = pass.waiting > 0 && !outcome.outOfReach && !putOff && StartSender(log, pass.waiting);
  if (outcome.queued > 0 && !senderOnItsWay) {
    // Said on standard error too, so whoever started the run learns why.
    log.Warning(std::to_string(outcome.queued) + " message(s) wait in the queue " + TransportOf(config).queue(config) +
                (outcome.whyQueued.empty() ? "" : " (" + outcome.whyQueued + ")") + "; the next run sends them");
  }
  // A recipient without a usable address is bad data in the list, not a
  // failure of the sending; what waits in the queue matters more to report.
  if (outcome.failed > 0) return kExitFailure;
  if (outcome.outOfReach || (outcome.queued > 0 && !senderOnItsWay)) return kExitTemporary;
  return outcome.invalidRecipients > 0 ? kExitDataError : kExitDone;
}

// The longest a sender sleeps before it looks at the queue again, and the
// longest it waits for the pace at all: a longer wait is left to the
// schedule that starts a sender every 15 minutes.
constexpr std::int64_t kLongestSleepSeconds = 30;
constexpr std::int64_t kLongestWaitSeconds = 15 * 60;

// When the sender tries again after a pass that left messages in the
// queue, or 0 when nothing but time holds them back: when the pace allows
// the next message (its window, its day cap, a provider's hold), and a
// second from now at the soonest.
std::int64_t NextTry(const SendPass& pass, std::int64_t now) {
  return pass.outcome.heldBy == Holdback::None ? 0 : std::max(pass.nextAllowed, now + 1);
}

// Sleeps until `when` (unix seconds), or kLongestSleepSeconds at most.
void SleepUntil(std::int64_t when) {
  const auto until = std::chrono::system_clock::time_point(std::chrono::seconds(when));
  const auto longest = std::chrono::system_clock::now() + std::chrono::seconds(kLongestSleepSeconds);
  std::this_thread::sleep_until(std::min(until, longest));
}

// The exit status when a pass's outcome ends the sending (the server out of
// reach, the account's quota used up), logged with what waits.
std::optional<int> StoppedByServer(const SendPass& pass, EventLog& log) {
  const std::string waiting = "the " + std::to_string(pass.waiting) + " message(s) in the queue wait";
  if (pass.outcome.outOfReach) {
    log.Warning("the server is out of reach; " + waiting + " for the next run");
    return kExitTemporary;
  }
  if (pass.outcome.heldBy == Holdback::Quota) {
    log.Warning("the account's sending quota is used up; " + waiting + " until it frees, after " +
                LocalClockIn(pass.nextAllowed - NowSeconds()) + ", for a later run");
    return kExitTemporary;
  }
  return std::nullopt;
}

// One pass of the sender in the background, under the hand-over lock, which
// it waits for while a mailing holds it. Empty, with the reason logged,
// when the lock cannot be had at all.
std::optional<SendPass> PassInTurn(const Config& config, EventLog& log, std::ostream& out) {
  platform::FileLock handOver;
  std::string why;
  for (;;) {
    switch (TakeLock(config, kHandOverLockFileName, kHandOverWait, handOver, why)) {
      case platform::FileLock::Result::Acquired:
        return SendOnce(config, log, nullptr, out);
      case platform::FileLock::Result::Busy:
        break;
      case platform::FileLock::Result::Failed:
        log.Error(why);
        return std::nullopt;
    }
  }
}

// --send-queued: sends what waits in the queue at the pace, sleeping while
// the pace or the server's rate holds it back, until the queue is empty (0).
// It ends early when the server cannot be reached (75), when the account's
// quota is used up or the pace allows nothing for longer than
// kLongestWaitSeconds (75: a later run sends the rest), or when what is
// left cannot be sent now for another reason (75; 1 when a message was
// refused). When another sender holds the lock it leaves the work to it (0).
int SendQueuedAtPace(const Config& config, EventLog& log, std::ostream& out) {
  if (!TransportOf(config).queue) {
    log.Info("sending the queue: " + config.transport + " keeps no queue, nothing to send");
    return kExitDone;
  }
  platform::FileLock lock;
  std::string why;
  switch (TakeLock(config, kSenderLockFileName, std::chrono::milliseconds(0), lock, why)) {
    case platform::FileLock::Result::Acquired:
      break;
    case platform::FileLock::Result::Busy:
      log.Info("another sender is at work (" + why + "); it sends the queue");
      return kExitDone;
    case platform::FileLock::Result::Failed:
      log.Error(why);
      return kExitFailure;
  }
  MaildirFolder queue(TransportOf(config).queue(config));
  bool refused = false;
  for (;;) {
    const std::optional<SendPass> taken = PassInTurn(config, log, out);
    if (!taken) return kExitFailure;
    const SendPass& pass = *taken;
    refused = refused || pass.outcome.failed > 0;
    if (const std::optional<int> status = StoppedByServer(pass, log)) return *status;
    if (pass.waiting == 0) {
      // A mailing queued while this sender was finishing found it still at
      // work and left its messages to it: one more look once the lock is
      // given back, unless a new sender has taken the work over.
      lock.Release();
      if (queue.List().empty() || TakeLock(config, kSenderLockFileName, std::chrono::milliseconds(0), lock, why) !=
                                      platform::FileLock::Result::Acquired) {
        return refused ? kExitFailure : kExitDone;
      }
      continue;
    }
    const std::int64_t now = NowSeconds();
    const std::int64_t next = NextTry(pass, now);
    if (next == 0) {
      // Nothing held back: messages queued meanwhile go next; what is left
      // of the pass's own (a failure that may pass, a file that cannot be
      // read) is for a later run.
      if (pass.outcome.queued == 0 && (pass.outcome.sent + pass.outcome.answerLost > 0 || pass.waiting > pass.listed)) {
        continue;
      }
      log.Warning(std::to_string(pass.waiting) + " message(s) are left in the queue for a later run");
      return refused ? kExitFailure : kExitTemporary;
    }
    const std::string when = std::to_string(pass.waiting) +
                             " message(s) wait in the queue; the next may go out at about " + LocalClockIn(next - now);
    if (next - now > kLongestWaitSeconds) {
      log.Info(when + ", when a later run sends it");
      return kExitTemporary;
    }
    log.Info(when);
    while (NowSeconds() < next && !queue.List().empty()) SleepUntil(next);
  }
}

std::string Summary(const FetchOutcome& outcome) {
  return std::to_string(outcome.offered) + " reply(ies) offered, " + std::to_string(outcome.skipped) +
         " automatic skipped, " + std::to_string(outcome.processed) + " acknowledged, " +
         std::to_string(outcome.needsReading) + " left for reading, " + std::to_string(outcome.reoffered) +
         " offered again, " + std::to_string(outcome.undeliverable) + " undeliverable, " +
         std::to_string(outcome.delayed) + " delayed, " + std::to_string(outcome.failures) + " failure(s)";
}

// Runs one intake step under the intake lock.
int WithIntakeLock(const Config& config, EventLog& log, const ReplySource& mailbox,
                   const std::function<FetchOutcome(IMailStore&)>& step) {
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
  std::unique_ptr<IMailStore> store = mailbox.transport.openStore(config, log);
  const FetchOutcome outcome = step(*store);
  log.Info("done: " + Summary(outcome));
  // Only messages held by another program: nothing is lost, a later run
  // takes them.
  if (outcome.failures > 0) return outcome.failures == outcome.heldBack ? kExitTemporary : kExitFailure;
  return kExitDone;
}

// Delivery reports found on the way are told on `out`, the lines LvMAPI
// copies into its run log.
int Fetch(const Config& config, EventLog& log, const Operation& op, std::ostream& out) {
  const ReplySource mailbox = ReplySourceOf(config, op.flag == 1);
  const bool outlook = &mailbox.transport == &OutlookTransportRow();
  log.Info("operation 4: fetching replies about \"" + op.subject + "\" into " + op.exchangeFile +
           (outlook ? " through Outlook" : ""));
  const FetchRequest request{op.exchangeFile,
                             op.subject,
                             config.senderAddress,
                             mailbox.statePath,
                             config.FileBesideProgram(kSentRegisterFileName),
                             &out,
                             config.replies.authservId,
                             static_cast<std::int64_t>(config.replies.sizeLimitMb) * 1024 * 1024,
                             !outlook};
  if (outlook) log.Info("replies read through Outlook carry no Message-ID of ours: their senders are not checked");
  return WithIntakeLock(config, log, mailbox, [&](IMailStore& store) { return FetchReplies(store, log, request); });
}

int Acknowledge(const Config& config, EventLog& log) {
  log.Info("acknowledging consumed exchange files");
  const ReplySource mailbox = ReplySourceOf(config, false);
  return WithIntakeLock(config, log, mailbox,
                        [&](IMailStore& store) { return AcknowledgeConsumed(store, log, mailbox.statePath); });
}

int Check(const Config& config, EventLog& log, std::ostream& out) {
  out << "Configuration: " << config.source << "\n";
  out << "Sender: " << (config.senderName.empty() ? "" : config.senderName + " ") << "<" << config.senderAddress
      << ">\n";
  out << "Transport: " << config.transport << "\n";
  for (const std::string& warning : config.warnings) out << "  WARNING  " << warning << "\n";
  std::vector<CheckFinding> findings;
  TransportOf(config).check(config, log, findings);
  std::vector<std::string> problems;
  const std::string statePath = ReplySourceOf(config, false).statePath;
  try {
    const size_t open = LoadOfferRecords(statePath, problems).size();
    findings.push_back({true, "Intake state (" + statePath + "): " + std::to_string(open) + " open record(s)"});
  } catch (const std::exception& e) {
    problems.push_back(e.what());
  }
  for (const std::string& problem : problems) findings.push_back({false, problem});
  bool healthy = true;
  for (const CheckFinding& finding : findings) {
    out << (finding.ok ? "  ok       " : "  PROBLEM  ") << finding.text << "\n";
    healthy = healthy && finding.ok;
  }
  out << (healthy ? "Everything is in order.\n" : "Problems found.\n");
  return healthy ? kExitDone : kExitFailure;
}

// What is set up before a command runs.
enum class When {
  AtOnce,    // nothing: no settings, no log
  Settings,  // the settings read and their warnings logged
  SignedIn,  // ... and the run's access tokens attached to the servers
};

// What a command is given; `config` and `log` are null for When::AtOnce.
struct Setup {
  std::ostream& out;
  Config* config;
  EventLog* log;
  std::vector<std::string> operands = {};  // what follows the command's name
};

// A command given by its name (and its operands), beside the operations.
struct Command {
  const char* name;
  When when;
  int (*run)(const Setup& setup);
  const char* help;  // its lines in the usage text, after its name
  size_t operands = 0;
};

std::string Usage();

int ShowHelp(const Setup& setup) {
  setup.out << Usage();
  return kExitDone;
}

int ShowVersion(const Setup& setup) {
  setup.out << "LVEmailAccess " << LVEMAILACCESS_VERSION << "\n";
  return kExitDone;
}

int RunAuthorize(const Setup& setup) {
  if (const std::string obstacle = AuthorizeObstacle(*setup.config); !obstacle.empty()) {
    setup.log->Error(obstacle);
    return kExitUsage;
  }
  Authorize(*setup.config, *setup.log, setup.out);
  return kExitDone;
}

int RunAcknowledge(const Setup& setup) { return Acknowledge(*setup.config, *setup.log); }

int RunSendQueued(const Setup& setup) { return SendQueuedAtPace(*setup.config, *setup.log, setup.out); }

int RunCheck(const Setup& setup) { return Check(*setup.config, *setup.log, setup.out); }

// The goal's task in the mailbox's own task list: only Microsoft Graph's
// mailbox keeps one within reach; LvMAPI sees to the others.
int RunUpdateGoalTask(const Setup& setup) {
  std::string why;
  const std::optional<GoalStatus> status = ReadGoalStatus(setup.operands, why);
  if (!status) throw UsageError(why);
  if (setup.config->transport != kTransportGraph) {
    setup.log->Info(std::string(exchange::kUpdateGoalTask) + ": transport = " + setup.config->transport +
                    " keeps no tasks here; nothing done");
    return exchange::kExitNoTaskStore;
  }
  GraphClient client(*setup.config, *setup.log);
  return UpdateTodoGoalTask(client, *status, *setup.log) ? kExitDone : exchange::kExitNoTask;
}

// In the order of the usage text.
constexpr Command kCommands[] = {
    {"--acknowledge", When::SignedIn, &RunAcknowledge,
     "  move the replies whose exchange file has been consumed to\n"
     "           the processed folder now (operation 4 does it when it starts)\n"},
    {"--send-queued", When::SignedIn, &RunSendQueued,
     "  send the queue at the pace until it is empty, one sender\n"
     "           at a time (operations 1, 2 and 4 start it in the background)\n"},
    {"--check", When::SignedIn, &RunCheck,
     "    check the configuration, log in to the servers and report;\n"
     "           sends nothing\n"},
    {"--authorize", When::Settings, &RunAuthorize,
     "  sign in at the OAuth 2.0 provider of [oauth2] (once, at a\n"
     "           terminal); the sign-in is kept in LVEmailAccess.token\n"},
    {"--help", When::AtOnce, &ShowHelp, "     show this text\n"},
    {"--version", When::AtOnce, &ShowVersion, "  show the version\n"},
    {exchange::kUpdateGoalTask, When::SignedIn, &RunUpdateGoalTask,
     " GOAL-ID PERCENT COMMENT\n"
     "           with transport = graph, add the goal status to the first\n"
     "           Microsoft To Do task whose body holds GOAL-ID; exit 66 when\n"
     "           none does, 69 with any other transport (nothing done)\n",
     3},
};

std::string Usage() {
  std::string usage = kUsageHead;
  for (const Command& command : kCommands) usage += std::string(command.name) + command.help;
  return usage + kUsageTail;
}

// The command `args` consist of, or null for an operation.
const Command* CommandOf(const std::vector<std::string>& args) {
  for (const Command& command : kCommands) {
    if (args.size() == 1 + command.operands && args[0] == command.name) return &command;
  }
  return nullptr;
}

// Replies are fetched without sending inline, so the fetch stays quick;
// what waits in the queue goes out with a sender in the background.
void StartSenderWhenMessagesWait(const Config& config, EventLog& log) {
  const Transport& transport = TransportOf(config);
  if (!transport.queue) return;
  MaildirFolder queue(transport.queue(config));
  if (const size_t waiting = queue.List().size(); waiting > 0) StartSender(log, waiting);
}

// An operation (1, 2 or 4): sends, or fetches the replies.
int RunOperation(const Operation& op, Config& config, EventLog& log, std::ostream& out) {
  if (op.flag == 1 && op.number != exchange::kFetchReplies) {
    log.Info("flag 1 (Outlook automation) is for reading replies; ignored");
  }
  if (op.number != exchange::kFetchReplies) return SendMailing(config, log, op, out);
  StartSenderWhenMessagesWait(config, log);
  return Fetch(config, log, op, out);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                   std::ostream& err) {
  const Command* command = CommandOf(args);
  if (command && command->when == When::AtOnce) return command->run({out, nullptr, nullptr});
  EventLog log(programDir + kLogFileName, err);
  try {
    Operation op;
    if (!command) op = ParseOperation(args);
    Config config = LoadConfig(programDir, SystemLocalMail);
    for (const std::string& warning : config.warnings) log.Warning(warning);
    if (!command || command->when == When::SignedIn) AttachTokens(config, log);
    return command ? command->run({out, &config, &log, {args.begin() + 1, args.end()}})
                   : RunOperation(op, config, log, out);
  } catch (const UsageError& e) {
    log.Error("bad arguments: " + std::string(e.what()));
    err << Usage();
    return kExitUsage;
  } catch (const ExchangeFileRefused& e) {
    log.Error(e.what());
    return kExitDataError;
  } catch (const ConfigError& e) {
    log.Error("bad configuration: " + std::string(e.what()));
    return kExitConfig;
  } catch (const OutlookUnavailable& e) {
    // Outlook is asked for on a computer without it: a setting to correct.
    log.Error(e.what());
    return kExitConfig;
  } catch (const LoginError& e) {
    // A user name or password to correct in the settings.
    log.Error(e.what());
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
