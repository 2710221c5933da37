#include "strategy/goal_notification.h"

#include <sstream>

#include "exchange/operations.h"
#include "mail/exchange.h"
#include "util/dates.h"
#include "util/identifiers.h"

namespace {

constexpr const char kSubjectHead[] = "Corvane Strategy: New Goal: ";

}  // namespace

std::vector<ResourceType> GoalResourceTypes() {
  return {{1, "Equipment"}, {2, "Person"}, {3, "Building"}, {4, "Financial"}, {5, "Other"}};
}

std::string ComposeGoalBody(const CStrategyModel& model, const CSmartGoal& goal) {
  // The mix of "\n\r" and "\r\n" is what recipients have always received;
  // the line-break normaliser turns it into the file's form.
  std::ostringstream body;
  body << "Lumenvale Goal Notification\r\n\r\n"
       << "This email was sent by Lumenvale, to let you know you have been assigned responsibility for the "
          "following strategic goal:\n\r\n\r"
       << "TITLE:          " << goal.title << "\r\n\r\nDESCRIPTION:    " << goal.description
       << "\r\n\r\nDUE DATE: " << FormatDateOnly(goal.dueDate) << "\r\n\r\nSUCCESS CRITERIA:  "
       << "\t\t" << goal.successCriteria << "\n\r\n\rRESOURCES NEEDED: \r\n";

  // Every heading is written, also without resources; a resource of a type
  // outside the table is not written at all.
  for (const ResourceType& type : model.resourceTypes) {
    body << "    " << type.name << "\r\n";
    for (const ChoiceItem& item : goal.resources.Items()) {
      if (item.typeCode == type.code) body << "        " << item.name << " - " << item.text << "\r\n";
    }
  }

  body << "\r\n\r\nPLANS\r\n";
  for (const ChoiceItem& item : goal.plans.Items()) body << "\t" << item.name << " - " << item.text << "\r\n";

  body << "\r\n\r\n"
       << "This email is intended as an initial notification to you.  However, you may optionally wish to provide "
          "an initial completion percentage and a comment to benefit the sender.  "
       << "If you wish to provide this information, follow these steps.  "
       << "Please type in status as a percentage, from 0 to 100.  0% means you have not yet "
       << "started on the goal.  100% means the goal has been fully accomplished.  "
       << "Place your percentage between the <status> </status> fields.  \r\n"
       << "Example:  <status> 25 </status>\r\n"
       << "This would signify that you are 25% finished with this goal.\n\r\n\r"
       << "There is also a place to type in a comment, should you desire to do so."
       << "\n\r\n\r\n\r"
       << "PLEASE ENTER YOUR STATUS AND AN OPTIONAL COMMENT BELOW\n\r\n\r"
       << "<Status> </Status>\n\r"
       << "<Comment> </Comment>\n\r\n\r\n\r"
       << "Thank you"
       << "\n\r\n\r\n\r\n\r\n\rNOTE:  The information below is used by Lumenvale and must not be deleted.\n\r"
       << "<StrategyId>" << model.strategyId << "</StrategyId>\n\r"
       << "<GoalId>" << goal.goalId << "</GoalId>\n\r";
  return body.str();
}

bool LVML_SendStatusEmails(std::string goalFilter, RunLog* runLog, std::string strategyId) {
  std::ostringstream discarded;
  RunLog& log = runLog ? *runLog : discarded;

  CStrategyModel model;
  model.resourceTypes = GoalResourceTypes();
  LoadChoiceCatalogs(model);
  // A strategy or goal filter that matches nothing sends nothing and adds no
  // line: the main application reads the run log as it always was.
  LoadStrategyModel(strategyId, model);

  for (const auto& goal : model.goals) {
    if (!goalFilter.empty() && !SameGuid(goal->goalId, goalFilter)) continue;
    // The person was looked up when the goal was loaded.
    if (!goal->person) continue;
    // One notification per goal: its person alone, under the goal's name.
    SendOutgoingExchange(log,
                         OutgoingExchangeText({*goal->person}, ComposeGoalBody(model, *goal),
                                              MailingName("goal", goal->goalId)),
                         exchange::kSendGoalNotification, kSubjectHead + goal->title, goal->title);
  }
  return true;
}
