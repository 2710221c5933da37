// The survey e-mail body: the text every recipient of a survey reads and
// answers between numbered tags.
#pragma once

#include <cstddef>
#include <ostream>

#include "surveys/survey_records.h"

// Walks the questions of one survey mailing and writes the pieces of the body
// that belong to one question. It refers to the record, which must outlive it,
// and keeps a position in its question list and a line-break choice.
class SurveyBodyWriter {
 public:
  enum class LineBreak { CrLf, Lf };

  explicit SurveyBodyWriter(const SurveyMailing& mailing, LineBreak lineBreak = LineBreak::CrLf)
      : m_mailing(&mailing), m_lineBreak(lineBreak) {}

  void SetLineBreak(LineBreak lineBreak) { m_lineBreak = lineBreak; }
  // Points the writer at `mailing` and at its first question.
  void Rewind(const SurveyMailing& mailing) {
    m_mailing = &mailing;
    m_position = 0;
  }
  bool AtEnd() const { return m_position >= m_mailing->Questions.size(); }
  void Next() { ++m_position; }

  // `count` line breaks of the chosen kind.
  void NewLines(std::ostream& out, int count) const;
  // The current question: number and text, type hint, (machine-readable) its
  // empty answer tag, and two line breaks.
  void WriteQuestion(std::ostream& out, bool machineReadable) const;
  // The footer line "<QuestionIDn>id</QuestionIDn>" of the current question.
  void WriteQuestionIdLine(std::ostream& out) const;

 private:
  const SurveyQuestionItem& Current() const { return m_mailing->Questions[m_position]; }
  void WriteHint(std::ostream& out, const SurveyQuestionItem& question) const;

  const SurveyMailing* m_mailing;
  size_t m_position = 0;
  LineBreak m_lineBreak;
};

// Appends the whole body of `mailing` to `out`, using `writer` (rewound onto
// `mailing`, line breaks set to CR LF) for the questions. The machine-readable
// variant (command 2) adds the general instructions, an empty answer tag under
// every question and the footer of <SurveyID> and <QuestionIDn> lines: exactly
// what the reply parser looks for in a returned message. The plain variant
// (command 3) ends with "Thank You!". Texts are written as they are, nothing is
// escaped; only the stream can fail.
void RenderSurveyBody(std::ostream& out, SurveyBodyWriter& writer, const SurveyMailing& mailing, bool machineReadable);
