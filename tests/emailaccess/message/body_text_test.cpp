// The text a person typed, out of the forms mail programs give it: flowed
// text unflowed, and a plain alternative rejoined where a mail program
// wrapped the lines its HTML alternative keeps whole.

#include "email_test_support.h"
#include "emailaccess/message/body_text.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::RejoinWrappedLines;
using emailaccess::UnflowText;
using testing_support::Visible;

struct FlowCase {
  const char* in;
  bool delsp;
  const char* out;
};

TEST(UnflowText, JoinsSoftBreaksOnlyWithinOneQuoteDepth) {
  const FlowCase cases[] = {
      {"a \nb\n", false, "a b\n"},
      {"a\nb\n", false, "a\nb\n"},
      {"> q1 \n> q2\n", false, "> q1 q2\n"},
      {"> q1 \nnot quoted\n", false, "> q1 \nnot quoted\n"},
      {">> deep \n>> er\n>\n", false, ">> deep er\n>\n"},
      {" From stuffed\n", false, "From stuffed\n"},
      {"-- \nsig\n", false, "-- \nsig\n"},
      {"x \n-- \nsig", false, "x \n-- \nsig"},
      {"ab \ncd", true, "abcd"},
  };
  for (const FlowCase& c : cases) EXPECT_EQ(Visible(UnflowText(c.in, c.delsp)), Visible(c.out)) << Visible(c.in);
}

struct RejoinCase {
  const char* text;
  const char* html;
  const char* out;
};

// Only a text that is the HTML wrapped is rejoined; any other difference
// leaves it as it is.
TEST(RejoinWrappedLines, JoinsOnlyWhereTheHtmlHasNoBreak) {
  const RejoinCase cases[] = {
      {"could be\nhappier!", "could be happier!", "could be happier!"},
      {"> could be\n> happier!\n> Next", "could be happier!\nNext", "> could be happier!\n> Next"},
      {"one\ntwo", "one\ntwo", "one\ntwo"},                            // the breaks the HTML has too
      {"one\n\ntwo", "one two", "one\n\ntwo"},                        // a blank line is no wrap
      {"> one\ntwo", "one two", "> one\ntwo"},                          // nor a change of quote depth
      {"one two", "one\ntwo", "one two"},                               // a break only the HTML has
      {"*bold* and\nmore", "bold and more", "*bold* and\nmore"},        // other words
      {"a \nb\xC2\xA0" "c\nd", "a b\xC2\xA0" "c d", "a b\xC2\xA0" "c d"},  // "c" ends the escape
      {"x\ny", "", "x\ny"},
  };
  for (const RejoinCase& c : cases) {
    EXPECT_EQ(Visible(RejoinWrappedLines(c.text, c.html)), Visible(c.out)) << Visible(c.text);
  }
}

}  // namespace
