// Replies as they come back to LvMAPI, for the tests of the reply parsers and
// of the reply intake: survey reply bodies, goal status reply bodies, the
// incoming exchange text the mail-access program writes, a check of new
// identifiers, and a capture of what the program prints on standard output.
//
// Everything here only builds texts; nothing touches a database or a file.
// The bodies carry the tags exactly as the survey e-mail and the goal
// notification write them, so a test changes only what it is about.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

struct IncomingReply {
  std::string originator;
  std::string date;
  std::string body;
};

// The incoming exchange text: for reply n = 1, 2, ... the elements
// Originator<n>, Date<n> and Body<n>, each followed by CR LF.
std::string IncomingExchangeText(const std::vector<IncomingReply>& replies);

struct SurveyAnswer {
  int number;        // the N of the answer tag
  std::string text;  // what the person typed between the tags
};

// A survey reply: a line of the person's own, the numbered questions with
// their answer tags (in the order given), "Thank You!", and the identifier
// footer with the survey tag (left out when `surveyId` is empty) and the
// question tags 1..questionIds.size(); an empty identifier leaves its tag out.
std::string SurveyReplyBody(const std::string& surveyId, const std::vector<std::string>& questionIds,
                            const std::vector<SurveyAnswer>& answers);

// A goal status reply: the person's own line, the notification's form with
// `status` and `comment` between the Status and Comment tags, and the footer
// with the strategy and goal tags (each left out when its identifier is
// empty).
std::string GoalReplyBody(const std::string& strategyId, const std::string& goalId, const std::string& status,
                          const std::string& comment);

// True for a GUID in registry form, as new row identifiers are made: braces
// and upper-case digits.
bool IsNewGuid(const std::string& text);

// Collects what is written to std::cout while it lives.
class CoutCapture {
 public:
  CoutCapture() : m_previous(std::cout.rdbuf(m_text.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(m_previous); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;

  std::string Text() const { return m_text.str(); }

 private:
  std::ostringstream m_text;
  std::streambuf* m_previous;
};

}  // namespace testing_support
