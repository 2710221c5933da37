// What an SMTP server's answer to one message means for the sending, beyond
// its first digit.
//
// Providers answer their sending limits in their own words: a throttling
// answer (Microsoft 365's "421 4.4.2 Message submission rate ..." with the
// connection closed, its "432 4.3.2 ... sender thread limit exceeded",
// 4.7.x rate answers) means "wait, then go on", never "out of reach"; an
// account quota (Google's "550-5.4.5 Daily user sending limit exceeded.",
// Exchange's "554 5.2.0 ... SubmissionQuotaExceededException") means no
// message of this account goes through until the quota frees. A connection
// cut after the server took the whole message but before its answer arrived
// leaves the message probably delivered: sending it again could give the
// person a second copy.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace emailaccess {

enum class AnswerMeaning {
  Other,        // read by its first digit, as any reply
  Throttled,    // the sending rate is over the server's limit for now
  QuotaUsedUp,  // the account may send nothing more for a while
  AnswerLost,   // the message was handed over; its answer never came
};

// The lines of the last reply in a transcript of reply lines (CR LF or LF
// ends): a multi-line reply ("550-...", "550-...", "550 ...") whole, or, when
// the connection broke in the middle of one, the lines that came.
std::vector<std::string> LastReply(std::string_view transcript);

// The reply's lines as one text for a log line: "550-5.4.5 ... | 550 5.4.5 ...".
std::string ToldReply(const std::vector<std::string>& reply);

// What the last reply means. `cut`: the connection broke (or fell silent)
// instead of answering; `wholeMessageOut`: the message was read out whole,
// after the server's "354" to DATA.
AnswerMeaning ReadAnswer(const std::vector<std::string>& reply, bool cut, bool wholeMessageOut);

}  // namespace emailaccess
