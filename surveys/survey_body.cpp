#include "surveys/survey_body.h"

#include <cstdint>

#include "util/identifiers.h"

namespace {

// The general instructions of a machine-readable survey: each text followed
// by that many line breaks (0 continues the line). Their examples use untagged
// <answer> markers on purpose: the reply parser only reads numbered tags.
struct InstructionLine {
  const char* text;
  int breaks;
};

constexpr InstructionLine kGeneralInstructions[] = {
    {"============================================================", 1},
    {"                   GENERAL INSTRUCTIONS", 1},
    {"============================================================", 2},
    {"This survey was created using Lumenvale software.  Your response to this survey ", 0},
    {"will be processed automatically.  To do this, Lumenvale expects to see your answers ", 0},
    {"in the correct locations.  All answers must be placed between the answer tags following each question.", 1},
    {"For example:", 2},
    {"1.  How many years have you been attending this church?", 1},
    {"\tPlease type in a number.", 1},
    {"\t<answer>3</answer>", 2},
    {"Notice that the answer, 3, has been placed between the answer tags (<answer></answer>).", 2},
    {"No matter what kind of answer is expected, you must always type your answer between", 0},
    {" the answer tags.  Below are some more examples:", 2},
    {"1.  What percentage of your work time do you spend doing administrative tasks?", 1},
    {"\tPlease type in a percentage.", 1},
    {"<answer>30%</answer>", 2},
    {"2.  I believe our facilities need to be updated.", 1},
    {"\tPlease type in true or false.", 1},
    {"<answer>false</answer>", 2},
    {"3.  Do you have strategic goals for the next 3 months?", 1},
    {"\tPlease type in yes or no.", 1},
    {"<answer>yes</answer>", 2},
    {"4.  On a scale of 1 to 10, rate your small group's effectiveness.", 1},
    {"\tPlease type in a scale value (1 to 10).", 1},
    {"<answer>7</answer>", 2},
    {"5.  Which outreach event do you feel was the most effective in reaching surrounding communities?", 1},
    {" Please type in the letter corresponding to your choice:", 1},
    {" a)  Harvest Fest", 1},
    {" b)  Summer Slam", 1},
    {" c)  Winterland", 1},
    {" d)  Spring Fling", 1},
    {"<answer>b</answer>", 1},
    {"(note that the choice made was Summer Slam)", 2},
    {"6.  What do you most hope to accomplish next year.", 1},
    {"\tPlease type in text.", 1},
    {"<answer>I hope to raise up four leaders for my ministry.", 1},
    {"Once they are raised up, I can focus more time on providing vision and leadership", 1},
    {"for my ministry, rather than only dealing with daily emergencies.</answer>", 3},
    {"Thank you for using Lumenvale.  Enjoy taking your survey.", 2},
    {"============================================================", 1},
    {"                END OF GENERAL INSTRUCTIONS", 1},
    {"============================================================", 2},
    {"============================================================", 2},
    {"                YOUR SURVEY BEGINS HERE", 2},
};
static_assert(sizeof kGeneralInstructions / sizeof kGeneralInstructions[0] == 44);

const MultipleChoiceSet* FindSet(const std::vector<MultipleChoiceSet>& sets, const std::string& id) {
  for (const MultipleChoiceSet& set : sets) {
    if (SameGuid(set.MultipleChoiceSetID, id)) return &set;
  }
  return nullptr;
}

}  // namespace

void SurveyBodyWriter::NewLines(std::ostream& out, int count) const {
  const char* lineBreak = m_lineBreak == LineBreak::CrLf ? "\r\n" : "\n";
  for (int i = 0; i < count; ++i) out << lineBreak;
}

void SurveyBodyWriter::WriteHint(std::ostream& out, const SurveyQuestionItem& question) const {
  switch (question.Type) {
    case 1:
      out << "(true or false)";
      break;
    case 2:
      out << "(yes or no)";
      break;
    case 3:
      out << "Please type in a number from " << question.ScaleMin << " to " << question.ScaleMax;
      break;
    case 4:
      out << "(enter a percentage from 0% to 100%)";
      break;
    case 5:
      out << "(enter a number)";
      break;
    case 6:
      out << "Please type in the letter corresponding to your choice:";
      if (const MultipleChoiceSet* set = FindSet(m_mailing->MultipleChoiceSets, question.MultipleChoiceID)) {
        for (size_t i = 0; i < set->Answers.size(); ++i) {
          NewLines(out, 1);
          // Letters run a, b, c, ... in eight bits, past z into whatever follows.
          out << static_cast<char>(static_cast<uint8_t>('a' + i)) << ")  " << set->Answers[i].AnswerDesc;
        }
      }
      break;
    default:
      break;  // other types have no hint; the line stays empty
  }
}

void SurveyBodyWriter::WriteQuestion(std::ostream& out, bool machineReadable) const {
  const SurveyQuestionItem& question = Current();
  out << question.Number << ".    " << question.Question;
  NewLines(out, 1);
  WriteHint(out, question);
  if (machineReadable) {
    NewLines(out, 1);
    out << "<answer" << question.Number << ">  </answer" << question.Number << ">";
  }
  NewLines(out, 2);
}

void SurveyBodyWriter::WriteQuestionIdLine(std::ostream& out) const {
  const SurveyQuestionItem& question = Current();
  out << "<QuestionID" << question.Number << ">" << question.SurveyQuestionID << "</QuestionID" << question.Number
      << ">";
  NewLines(out, 1);
}

void RenderSurveyBody(std::ostream& out, SurveyBodyWriter& writer, const SurveyMailing& mailing, bool machineReadable) {
  writer.SetLineBreak(SurveyBodyWriter::LineBreak::CrLf);

  out << "\t\t" << mailing.Title;
  writer.NewLines(out, 2);
  out << mailing.Greeting;
  writer.NewLines(out, 2);
  out << mailing.Instructions;
  writer.NewLines(out, 2);

  if (machineReadable) {
    for (const InstructionLine& line : kGeneralInstructions) {
      out << line.text;
      writer.NewLines(out, line.breaks);
    }
  }

  for (writer.Rewind(mailing); !writer.AtEnd(); writer.Next()) writer.WriteQuestion(out, machineReadable);

  writer.NewLines(out, 2);
  out << "Thank You!";
  if (!machineReadable) return;

  writer.NewLines(out, 6);
  out << "Please NOTE: The information below is used by Corvane and must not be deleted.";
  writer.NewLines(out, 2);
  out << "<SurveyID>" << mailing.SurveyID << "</SurveyID>";
  writer.NewLines(out, 1);
  for (writer.Rewind(mailing); !writer.AtEnd(); writer.Next()) writer.WriteQuestionIdLine(out);
  writer.NewLines(out, 2);
}
