#include "app/reply_intake.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bizobjects/stored_replies.h"
#include "exchange/hand_back.h"
#include "exchange/incoming.h"
#include "exchange/operations.h"
#include "mail/exchange.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "strategy/goal_status_reply.h"
#include "surveys/survey_reply.h"
#include "util/text_files.h"

namespace {

// Tells the mail-access program, beside the exchange file at `path`, which of
// its replies were stored; written whole before the file is deleted. False
// when it could not be written while some reply was not stored: the file is
// then kept, so that the next run offers the replies again (those stored are
// recognised) rather than have the unread ones filed away as stored.
bool HandBack(RunLog& log, const std::string& path, const std::vector<bool>& stored) {
  if (stored.empty()) return true;
  std::string why;
  if (platform::ReplaceFileAtomically(exchange::HandBackPath(path), exchange::FormatHandBack(stored), &why)) {
    return true;
  }
  if (std::find(stored.begin(), stored.end(), false) == stored.end()) return true;
  log << "Could not tell the mail-access program which replies were not stored (" << why
      << "); they are offered again by the next run" << std::endl;
  return false;
}

using ReplyReceiver = bool (*)(std::string originator, std::string date, std::string body, ReplyOutcome* outcome);

// One kind of reply: fetched under `subject` into `path`, each record
// (Originator<n>, Date<n>, Body<n> for n = 1, 2, ... up to the first
// incomplete one) handed to `receiver`, counted (also when the receiver could
// not use it; one it stored nothing from is named in the log with the
// reason, since a person has to read it), then the hand-back that tells the
// mail-access program which replies were stored is written, and the file
// deleted. An exception of the receiver leaves at once and keeps the file,
// so every reply is offered again.
int FetchAndHandOver(RunLog& log, int automation, const std::string& path, const char* subject,
                     ReplyReceiver receiver, const char* countLine) {
  RunEmailAccess(log, path, exchange::kFetchReplies, subject, automation);
  std::string content, why;
  if (!platform::ReadWholeFile(path, content, &why) && platform::FileExists(path)) {
    // Replies were fetched and not read: the file stays, so the mail-access
    // program offers them again on its next run, and the job fails.
    log << "Could not read the input file: " << why << std::endl;
    std::cerr << "LvMAPI: replies not read, they are offered again next time: " << why << std::endl;
    RecordJobStatus(exchange::kExitTemporary);
    return 0;
  }
  // A NUL byte would end a statement's text early and fail the same reply on
  // every run, blocking the ones after it.
  const std::string text = WithoutNulBytes(std::move(content));

  int count = 0;
  std::vector<bool> stored;
  for (exchange::IncomingRecord& record : exchange::ReadIncomingRecords(text)) {
    ReplyOutcome outcome = ReplyOutcome::kNotStored;
    receiver(record.originator, record.date, std::move(record.body), &outcome);
    stored.push_back(WasStored(outcome));
    if (!stored.back()) {
      log << "Not stored, left for reading: the reply of " << record.originator << " dated " << record.date << ": "
          << ReasonNotStored(outcome) << std::endl;
    }
    ++count;
  }
  log << countLine << count << std::endl;
  if (HandBack(log, path, stored)) DiscardExchangeFile(log, path);
  return count;
}

}  // namespace

int16_t LVML_ProcessSurveyReplyEmails(RunLog* log, int automation, bool withGoalReplies) {
  std::ostringstream noLog;
  RunLog& runLog = log ? *log : noLog;
  runLog << "Inside LVML_ProcessSurveyReplyEmails" << std::endl;
  const std::string surveyPath = NewExchangeFilePath();
  const std::string goalPath = NewExchangeFilePath();

  int count = FetchAndHandOver(runLog, automation, surveyPath, "Corvane Survey", ProcessSurveyReply,
                               "Number of survey responses read from file: ");
  if (withGoalReplies) {
    count = FetchAndHandOver(runLog, automation, goalPath, "Corvane Strategy", ProcessGoalStatusReply,
                             "Number of goal responses read from file: ");
  }
  return static_cast<int16_t>(count);
}
