#include "app/reply_intake.h"

#include <iostream>
#include <sstream>
#include <string>

#include "bizobjects/stored_replies.h"
#include "mail/exchange.h"
#include "platform/files.h"
#include "strategy/goal_status_reply.h"
#include "surveys/survey_reply.h"
#include "util/text_files.h"

namespace {

using ReplyReceiver = bool (*)(std::string originator, std::string date, std::string body, ReplyOutcome* outcome);

// One kind of reply: fetched under `subject` into `path`, each record
// (Originator<n>, Date<n>, Body<n> for n = 1, 2, ... up to the first
// incomplete one) handed to `receiver`, counted (also when the receiver could
// not use it; one that had nothing typed between its tags is named in the
// log, since its sender believes it answered), the file deleted. An exception
// of the receiver leaves at once and keeps the file.
int FetchAndHandOver(RunLog& log, int automation, const std::string& path, const char* subject,
                     ReplyReceiver receiver, const char* countLine) {
  RunEmailAccess(log, path, kMailFetchReplies, subject, automation);
  std::string content, why;
  if (!platform::ReadWholeFile(path, content, &why) && platform::FileExists(path)) {
    // Replies were fetched and not read: the file stays, so the mail-access
    // program offers them again on its next run, and the job fails.
    log << "Could not read the input file: " << why << std::endl;
    std::cerr << "LvMAPI: replies not read, they are offered again next time: " << why << std::endl;
    RecordJobStatus(kMailAccessTemporaryFailure);
    return 0;
  }
  // A NUL byte would end a statement's text early and fail the same reply on
  // every run, blocking the ones after it.
  const std::string text = WithoutNulBytes(std::move(content));

  int count = 0;
  for (IncomingRecord& record : ReadIncomingRecords(text)) {
    ReplyOutcome outcome = ReplyOutcome::kNotStored;
    receiver(record.originator, record.date, std::move(record.body), &outcome);
    if (outcome == ReplyOutcome::kNothingTyped) {
      log << "Nothing stored from the reply of " << record.originator << " dated " << record.date
          << ": no answer between the tags" << std::endl;
    }
    ++count;
  }
  log << countLine << count << std::endl;
  DiscardExchangeFile(log, path);
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
