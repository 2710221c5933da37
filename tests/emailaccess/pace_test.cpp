// The pace setting and the sliding window that keeps to it.

#include "emailaccess/pace.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::Pace;
using emailaccess::SlidingWindow;

TEST(PaceTest, SettingsAreReadOrRefused) {
  struct Case {
    const char* text;
    bool ok;
    int messages, seconds;
  };
  const Case cases[] = {{"unpaced", true, 0, 0},      {"microsoft365", true, 30, 60}, {"10 per 6", true, 10, 6},
                        {"0 per 60", false, 0, 0},    {"30 per 0", false, 0, 0},      {"30/60", false, 0, 0},
                        {"30 per 60s", false, 0, 0},  {"", false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Pace pace{7, 7};
    std::string error;
    EXPECT_EQ(emailaccess::ParsePace(c.text, pace, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(pace.messages, c.messages);
      EXPECT_EQ(pace.seconds, c.seconds);
    } else {
      EXPECT_NE(error.find(c.text), std::string::npos) << error;
    }
  }
}

TEST(PaceTest, TheWindowCountsWhatWentOutAndForeseesWhenTheRestIsOut) {
  struct Case {
    const char* history;  // as an earlier run left it
    long long now;
    bool allows;
    int more;
    long long allGoneBy;
  };
  const Pace pace{3, 60};
  const Case cases[] = {
      {"", 1000, true, 3, 1000},                       // an empty window takes three at once
      {"", 1000, true, 4, 1060},                       // the fourth waits for the first to age out
      {"950\n960\n970\n", 1000, false, 1, 1010},       // full: the oldest frees its place at 1010
      {"900\n960\n970\n", 1000, true, 3, 1030},        // the oldest aged out already
      {"not a time\n950\n", 1000, true, 2, 1000},      // stray lines are left out
      {"1\n2\n3\n4\n5\n990\n", 1000, true, 3, 1050},   // only the last three count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.history);
    const SlidingWindow window(pace, c.history);
    EXPECT_EQ(window.Allows(c.now), c.allows);
    EXPECT_EQ(window.AllGoneBy(c.now, c.more), c.allGoneBy);
  }
  SlidingWindow window(pace, "");
  for (long long t : {10, 20, 30, 40}) window.Note(t);
  EXPECT_EQ(window.Save(), "20\n30\n40\n");
  EXPECT_TRUE(SlidingWindow(Pace{}, "1\n1\n1\n").Allows(1)) << "unpaced never holds back";
}

}  // namespace
