// The meaning of a server's last reply: the providers' limits in their own
// words, a recipient's refusal that is no account limit, and the message
// whose answer was lost after it went out whole.

#include "emailaccess/smtp/smtp_answer.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::AnswerMeaning;
using emailaccess::LastReply;
using emailaccess::ReadAnswer;
using emailaccess::ToldReply;

TEST(SmtpAnswerTest, TheLastReplyIsReadByWhatTheProviderMeans) {
  struct Case {
    const char* transcript;
    bool cut;
    bool wholeMessageOut;
    AnswerMeaning meaning;
    const char* told;
  };
  const Case cases[] = {
      {"250 OK\r\n421 4.4.2 Message submission rate for this client has exceeded the configured limit\r\n", true, false,
       AnswerMeaning::Throttled, "421 4.4.2 Message submission rate for this client has exceeded the configured limit"},
      {"354 go ahead\r\n432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded\r\n", false, true,
       AnswerMeaning::Throttled, "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded"},
      {"450 4.7.28 Our system has detected an unusual rate of unsolicited mail\r\n", false, false,
       AnswerMeaning::Throttled, "450 4.7.28 Our system has detected an unusual rate of unsolicited mail"},
      // A plain temporary failure is retried as before, not held back.
      {"451 4.3.0 Temporary local problem, try again later\r\n", false, true, AnswerMeaning::Other,
       "451 4.3.0 Temporary local problem, try again later"},
      {"354 go ahead\r\n550-5.4.5 Daily user sending limit exceeded. For more information on Gmail\r\n"
       "550-5.4.5 sending limits go to\r\n550 5.4.5  https://support.google.com/a/answer/166852 - gsmtp\r\n",
       false, true, AnswerMeaning::QuotaUsedUp,
       "550-5.4.5 Daily user sending limit exceeded. For more information on Gmail | 550-5.4.5 sending limits go to | "
       "550 5.4.5  https://support.google.com/a/answer/166852 - gsmtp"},
      {"554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException\n", false, true,
       AnswerMeaning::QuotaUsedUp, "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException"},
      // One recipient's full mailbox or unknown address stops nothing else.
      {"552 5.2.2 <ann@example.org>: mailbox over quota\r\n", false, false, AnswerMeaning::Other,
       "552 5.2.2 <ann@example.org>: mailbox over quota"},
      {"550 5.1.1 <rob@example.org>: Recipient address rejected\r\n", false, false, AnswerMeaning::Other,
       "550 5.1.1 <rob@example.org>: Recipient address rejected"},
      // The message went out whole after "354" and no answer came.
      {"250 OK\r\n354 End data with <CR><LF>.<CR><LF>\r\n", true, true, AnswerMeaning::AnswerLost,
       "354 End data with <CR><LF>.<CR><LF>"},
      // Cut while the message was still going out: the server cannot have it.
      {"354 End data with <CR><LF>.<CR><LF>\r\n", true, false, AnswerMeaning::Other,
       "354 End data with <CR><LF>.<CR><LF>"},
      // A reply cut in its middle keeps the lines that came.
      {"250 OK\r\n550-5.4.5 Daily user sending limit exceeded.\r\n", true, true, AnswerMeaning::QuotaUsedUp,
       "550-5.4.5 Daily user sending limit exceeded."},
      {"", true, true, AnswerMeaning::Other, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transcript);
    const auto reply = LastReply(c.transcript);
    EXPECT_EQ(ToldReply(reply), c.told);
    EXPECT_EQ(ReadAnswer(reply, c.cut, c.wholeMessageOut), c.meaning);
  }
}

}  // namespace
