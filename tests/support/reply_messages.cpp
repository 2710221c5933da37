#include "reply_messages.h"

#include <regex>

namespace testing_support {

std::string IncomingExchangeText(const std::vector<IncomingReply>& replies) {
  std::string text;
  int n = 1;
  for (const IncomingReply& reply : replies) {
    const std::string number = std::to_string(n++);
    text += "<Originator" + number + ">" + reply.originator + "</Originator" + number + ">\r\n";
    text += "<Date" + number + ">" + reply.date + "</Date" + number + ">\r\n";
    text += "<Body" + number + ">" + reply.body + "</Body" + number + ">\r\n";
  }
  return text;
}

std::string SurveyReplyBody(const std::string& surveyId, const std::vector<std::string>& questionIds,
                            const std::vector<SurveyAnswer>& answers) {
  std::string body = "Here are my answers.\r\n\r\n";
  for (const SurveyAnswer& answer : answers) {
    const std::string n = std::to_string(answer.number);
    body += n + ".    Question " + n + "\r\n\r\n<answer" + n + ">" + answer.text + "</answer" + n + ">\r\n\r\n";
  }
  body += "\r\n\r\nThank You!\r\n\r\n\r\n\r\n\r\n\r\n";
  body += "Please NOTE: The information below is used by Corvane and must not be deleted.\r\n\r\n";
  if (!surveyId.empty()) body += "<SurveyID>" + surveyId + "</SurveyID>\r\n";
  for (std::size_t i = 0; i < questionIds.size(); ++i) {
    if (questionIds[i].empty()) continue;
    const std::string n = std::to_string(i + 1);
    body += "<QuestionID" + n + ">" + questionIds[i] + "</QuestionID" + n + ">\r\n";
  }
  return body + "\r\n\r\n";
}

std::string GoalReplyBody(const std::string& strategyId, const std::string& goalId, const std::string& status,
                          const std::string& comment) {
  std::string body = "Thanks for the reminder.\r\n\r\n> Lumenvale Goal Notification\r\n";
  body += "PLEASE ENTER YOUR STATUS AND AN OPTIONAL COMMENT BELOW\r\n\r\n";
  body += "<Status>" + status + "</Status>\r\n";
  body += "<Comment>" + comment + "</Comment>\r\n\r\n\r\nThank you\r\n\r\n\r\n\r\n\r\n";
  body += "NOTE:  The information below is used by Lumenvale and must not be deleted.\r\n";
  if (!strategyId.empty()) body += "<StrategyId>" + strategyId + "</StrategyId>\r\n";
  if (!goalId.empty()) body += "<GoalId>" + goalId + "</GoalId>\r\n";
  return body;
}

bool IsNewGuid(const std::string& text) {
  return std::regex_match(text, std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})"));
}

}  // namespace testing_support
