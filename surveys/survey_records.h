// Plain records of one survey mailing: what the send workflow loads from the
// database and the body renderer reads. Values only, no behaviour; texts are
// as the database (or, for SurveyID, the command line) gave them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/mail_recipient.h"

struct MultipleChoiceAnswer {
  std::string AnswerID;
  std::string AnswerDesc;  // the wording the recipient sees
  int32_t AnswerNum = 0;   // position within its set
};

struct MultipleChoiceSet {
  std::string MultipleChoiceSetID;
  std::string MultipleChoiceSetName;
  std::vector<MultipleChoiceAnswer> Answers;
};

struct SurveyQuestionItem {
  std::string SurveyQuestionID;
  int32_t Number = 0;
  int32_t Type = 0;
  std::string Question;
  int32_t ScaleMin = 0;
  int32_t ScaleMax = 0;
  std::string MultipleChoiceID;
};

struct SurveyHeader {
  std::string SurveyID;
  std::string SurveyTitle;
  std::string SurveyGreeting;
  std::string SurveyInstructions;
};

struct SurveyMailing {
  std::string SurveyID;  // as the send run received it
  std::string Title;
  std::string Greeting;
  std::string Instructions;
  std::vector<SurveyHeader> Surveys;             // every survey row read
  std::vector<SurveyQuestionItem> Questions;     // ascending question number
  std::vector<MailRecipient> Recipients;         // persons first, then extra addresses
  std::vector<MultipleChoiceSet> MultipleChoiceSets;  // all sets of the database
};
