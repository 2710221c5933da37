#include "surveys/survey_body.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_support.h"

using testing_support::Visible;

namespace {

// The general instructions as a recipient sees them, line by line.
const std::string kGeneralInstructions =
    "============================================================\r\n"
    "                   GENERAL INSTRUCTIONS\r\n"
    "============================================================\r\n\r\n"
    "This survey was created using Lumenvale software.  Your response to this survey will be processed automatically.  To do this, Lumenvale expects to see your answers in the correct locations.  All answers must be placed between the answer tags following each question.\r\n"
    "For example:\r\n\r\n"
    "1.  How many years have you been attending this church?\r\n"
    "\tPlease type in a number.\r\n"
    "\t<answer>3</answer>\r\n\r\n"
    "Notice that the answer, 3, has been placed between the answer tags (<answer></answer>).\r\n\r\n"
    "No matter what kind of answer is expected, you must always type your answer between the answer tags.  Below are some more examples:\r\n\r\n"
    "1.  What percentage of your work time do you spend doing administrative tasks?\r\n"
    "\tPlease type in a percentage.\r\n"
    "<answer>30%</answer>\r\n\r\n"
    "2.  I believe our facilities need to be updated.\r\n"
    "\tPlease type in true or false.\r\n"
    "<answer>false</answer>\r\n\r\n"
    "3.  Do you have strategic goals for the next 3 months?\r\n"
    "\tPlease type in yes or no.\r\n"
    "<answer>yes</answer>\r\n\r\n"
    "4.  On a scale of 1 to 10, rate your small group's effectiveness.\r\n"
    "\tPlease type in a scale value (1 to 10).\r\n"
    "<answer>7</answer>\r\n\r\n"
    "5.  Which outreach event do you feel was the most effective in reaching surrounding communities?\r\n"
    " Please type in the letter corresponding to your choice:\r\n"
    " a)  Harvest Fest\r\n"
    " b)  Summer Slam\r\n"
    " c)  Winterland\r\n"
    " d)  Spring Fling\r\n"
    "<answer>b</answer>\r\n"
    "(note that the choice made was Summer Slam)\r\n\r\n"
    "6.  What do you most hope to accomplish next year.\r\n"
    "\tPlease type in text.\r\n"
    "<answer>I hope to raise up four leaders for my ministry.\r\n"
    "Once they are raised up, I can focus more time on providing vision and leadership\r\n"
    "for my ministry, rather than only dealing with daily emergencies.</answer>\r\n\r\n\r\n"
    "Thank you for using Lumenvale.  Enjoy taking your survey.\r\n\r\n"
    "============================================================\r\n"
    "                END OF GENERAL INSTRUCTIONS\r\n"
    "============================================================\r\n\r\n"
    "============================================================\r\n\r\n"
    "                YOUR SURVEY BEGINS HERE\r\n\r\n"
    ;

const std::string kFooterNote =
    "\r\n\r\n\r\n\r\n\r\n\r\nPlease NOTE: The information below is used by Corvane and must not be deleted.\r\n\r\n";

std::string Render(const SurveyMailing& mailing, bool machineReadable) {
  SurveyBodyWriter writer(mailing);
  std::ostringstream out;
  RenderSurveyBody(out, writer, mailing, machineReadable);
  return out.str();
}

SurveyMailing Header(const std::string& title = "Spring Survey") {
  SurveyMailing m;
  m.SurveyID = "{6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2}";
  m.Title = title;
  m.Greeting = "Dear friends,";
  m.Instructions = "Please answer.";
  return m;
}

SurveyQuestionItem Question(int32_t number, int32_t type, const std::string& text, int32_t scaleMin = 0,
                            int32_t scaleMax = 0, const std::string& setId = "") {
  return {"{Q-" + std::to_string(number) + "}", number, type, text, scaleMin, scaleMax, setId};
}

MultipleChoiceSet Set(const std::string& id, std::vector<std::string> answers) {
  MultipleChoiceSet set{id, "name of " + id, {}};
  int32_t n = 1;
  for (auto& a : answers) set.Answers.push_back({"{A" + std::to_string(n) + "}", a, n++});
  return set;
}

TEST(RenderSurveyBody, WithoutQuestionsMachineReadableHasInstructionsAndASurveyOnlyFooter) {
  const SurveyMailing m = Header();
  EXPECT_EQ(Visible(Render(m, true)),
            Visible("\t\tSpring Survey\r\n\r\nDear friends,\r\n\r\nPlease answer.\r\n\r\n" + kGeneralInstructions +
                    "\r\n\r\nThank You!" + kFooterNote +
                    "<SurveyID>{6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2}</SurveyID>\r\n\r\n\r\n"));
}

TEST(RenderSurveyBody, WithoutQuestionsPlainEndsWithThankYou) {
  EXPECT_EQ(Visible(Render(Header(), false)),
            Visible("\t\tSpring Survey\r\n\r\nDear friends,\r\n\r\nPlease answer.\r\n\r\n\r\n\r\nThank You!"));
}

TEST(RenderSurveyBody, EmptyTitleStillWritesTheTwoTabs) {
  SurveyMailing m = Header("");
  m.Greeting.clear();
  m.Instructions.clear();
  EXPECT_EQ(Visible(Render(m, false)), Visible("\t\t\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\nThank You!"));
}

TEST(RenderSurveyBody, WritesEveryQuestionTypeWithItsHintAnswerTagAndFooterLine) {
  SurveyMailing m = Header();
  m.MultipleChoiceSets = {Set("A1D4C3B2-0000-4A5B-8C7D-6E5F4A3B2C99", {"Other"}),
                          Set("A1D4C3B2-0E1F-4A5B-8C7D-6E5F4A3B2C10", {"Red", "Blue"})};
  m.Questions = {
      Question(1, 1, "Services help me grow."),
      Question(2, 2, "In a small group?"),
      Question(3, 3, "How welcome?", 1, 5),
      Question(4, 4, "Share of time?"),
      Question(5, 5, "How many years?"),
      // Stored with braces and in lower case; the set is stored bare and upper case.
      Question(6, 6, "Favourite colour?", 0, 0, "{a1d4c3b2-0e1f-4a5b-8c7d-6e5f4a3b2c10}"),
      Question(7, 0, "Type zero"),
      Question(12, 7, "Free text"),
  };
  const std::string questions =
      "1.    Services help me grow.\r\n(true or false)\r\n<answer1>  </answer1>\r\n\r\n"
      "2.    In a small group?\r\n(yes or no)\r\n<answer2>  </answer2>\r\n\r\n"
      "3.    How welcome?\r\nPlease type in a number from 1 to 5\r\n<answer3>  </answer3>\r\n\r\n"
      "4.    Share of time?\r\n(enter a percentage from 0% to 100%)\r\n<answer4>  </answer4>\r\n\r\n"
      "5.    How many years?\r\n(enter a number)\r\n<answer5>  </answer5>\r\n\r\n"
      "6.    Favourite colour?\r\nPlease type in the letter corresponding to your choice:\r\na)  Red\r\nb)  Blue\r\n"
      "<answer6>  </answer6>\r\n\r\n"
      "7.    Type zero\r\n\r\n<answer7>  </answer7>\r\n\r\n"
      "12.    Free text\r\n\r\n<answer12>  </answer12>\r\n\r\n";
  const std::string footer =
      "<SurveyID>{6f1c2a40-3b5d-4c8e-9a71-2d4e5f60a1b2}</SurveyID>\r\n"
      "<QuestionID1>{Q-1}</QuestionID1>\r\n<QuestionID2>{Q-2}</QuestionID2>\r\n"
      "<QuestionID3>{Q-3}</QuestionID3>\r\n<QuestionID4>{Q-4}</QuestionID4>\r\n"
      "<QuestionID5>{Q-5}</QuestionID5>\r\n<QuestionID6>{Q-6}</QuestionID6>\r\n"
      "<QuestionID7>{Q-7}</QuestionID7>\r\n<QuestionID12>{Q-12}</QuestionID12>\r\n\r\n\r\n";
  EXPECT_EQ(Visible(Render(m, true)),
            Visible("\t\tSpring Survey\r\n\r\nDear friends,\r\n\r\nPlease answer.\r\n\r\n" + kGeneralInstructions +
                    questions + "\r\n\r\nThank You!" + kFooterNote + footer));
}

TEST(RenderSurveyBody, PlainVariantHasQuestionsAndHintsButNoTags) {
  SurveyMailing m = Header();
  m.MultipleChoiceSets = {Set("{S1}", {"Red", "Blue"})};
  m.Questions = {Question(1, 3, "Rate it", -2, 10), Question(2, 6, "Pick", 0, 0, "s1"), Question(3, 9, "Say")};
  EXPECT_EQ(Visible(Render(m, false)),
            Visible("\t\tSpring Survey\r\n\r\nDear friends,\r\n\r\nPlease answer.\r\n\r\n"
                    "1.    Rate it\r\nPlease type in a number from -2 to 10\r\n\r\n"
                    "2.    Pick\r\nPlease type in the letter corresponding to your choice:\r\na)  Red\r\nb)  Blue\r\n\r\n"
                    "3.    Say\r\n\r\n\r\n"
                    "\r\n\r\nThank You!"));
}

struct ChoiceCase {
  const char* name;
  std::vector<MultipleChoiceSet> sets;
  std::string questionSetId;
  std::string expectedHint;
};

TEST(RenderSurveyBody, MultipleChoiceHintFollowsTheFirstMatchingSet) {
  const std::string prompt = "Please type in the letter corresponding to your choice:";
  const ChoiceCase cases[] = {
      {"no set matches: prompt only", {Set("{S1}", {"Red"})}, "{S2}", prompt},
      {"empty identifier matches nothing real", {Set("{S1}", {"Red"})}, "", prompt},
      {"first of two sets with the same identifier wins",
       {Set("S1", {"Red"}), Set("{s1}", {"Blue"})}, "{S1}", prompt + "\r\na)  Red"},
      {"a set read without answers shows its single empty answer", {Set("S3", {""})}, "S3", prompt + "\r\na)  "},
      {"answer text is written verbatim", {Set("S5", {"<answer1>x</answer1> & more"})}, "S5",
       prompt + "\r\na)  <answer1>x</answer1> & more"},
  };
  for (const ChoiceCase& c : cases) {
    SurveyMailing m = Header();
    m.MultipleChoiceSets = c.sets;
    m.Questions = {Question(1, 6, "Pick", 0, 0, c.questionSetId)};
    const std::string expected = "1.    Pick\r\n" + c.expectedHint + "\r\n<answer1>  </answer1>\r\n\r\n";
    EXPECT_NE(Render(m, true).find(kGeneralInstructions + expected + "\r\n\r\nThank You!"), std::string::npos)
        << c.name << "\n" << Visible(Render(m, true));
  }
}

TEST(RenderSurveyBody, LetterAfterZIsTheNextCharacter) {
  SurveyMailing m = Header();
  std::vector<std::string> answers(27, "x");
  m.MultipleChoiceSets = {Set("S", answers)};
  m.Questions = {Question(1, 6, "Pick", 0, 0, "S")};
  const std::string body = Render(m, false);
  EXPECT_NE(body.find("\r\nz)  x\r\n{)  x\r\n\r\n"), std::string::npos) << Visible(body);
}

TEST(RenderSurveyBody, TextsAreWrittenAsTheyAre) {
  SurveyMailing m = Header("A <b> & \"c\"");
  m.Greeting = "Hello\r\nagain";  // a stored line break, already CR LF after reading
  m.Questions = {Question(1, 5, "Count <answer1>3</answer1>?")};
  const std::string body = Render(m, false);
  EXPECT_EQ(Visible(body), Visible("\t\tA <b> & \"c\"\r\n\r\nHello\r\nagain\r\n\r\nPlease answer.\r\n\r\n"
                                   "1.    Count <answer1>3</answer1>?\r\n(enter a number)\r\n\r\n\r\n\r\nThank You!"));
}

TEST(RenderSurveyBody, AlwaysUsesCrLfAndCanRenderAgainWithTheSameWriter) {
  SurveyMailing m = Header();
  m.Questions = {Question(1, 1, "One"), Question(2, 2, "Two")};
  SurveyBodyWriter writer(m, SurveyBodyWriter::LineBreak::Lf);
  std::ostringstream first, second;
  RenderSurveyBody(first, writer, m, true);
  RenderSurveyBody(second, writer, m, true);
  EXPECT_EQ(first.str(), Render(m, true));
  EXPECT_EQ(second.str(), first.str());
  EXPECT_NE(first.str().find("<QuestionID2>{Q-2}</QuestionID2>\r\n\r\n\r\n"), std::string::npos);
}

TEST(SurveyBodyWriter, WritesTheChosenLineBreaks) {
  SurveyMailing m = Header();
  m.Questions = {Question(4, 2, "Q")};
  SurveyBodyWriter writer(m, SurveyBodyWriter::LineBreak::Lf);
  std::ostringstream out;
  writer.WriteQuestion(out, true);
  writer.WriteQuestionIdLine(out);
  EXPECT_EQ(out.str(), "4.    Q\n(yes or no)\n<answer4>  </answer4>\n\n<QuestionID4>{Q-4}</QuestionID4>\n");
  writer.Next();
  EXPECT_TRUE(writer.AtEnd());
  writer.Rewind(m);
  EXPECT_FALSE(writer.AtEnd());
}

}  // namespace
