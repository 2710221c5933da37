// The pace setting, and the window that keeps to it: so many a period, a
// day cap over the rolling 24 hours, and the provider's holds.

#include "emailaccess/pace.h"

#include <gtest/gtest.h>

namespace {

using emailaccess::Holdback;
using emailaccess::Pace;
using emailaccess::SlidingWindow;

constexpr long long kDay = 86400;

TEST(PaceTest, SettingsAreReadOrRefused) {
  struct Case {
    const char* text;
    bool ok;
    Pace pace;
  };
  const Case cases[] = {{"unpaced", true, {}}, {"microsoft365", true, {30, 60, 10000, "Microsoft 365"}},
                        {"google", true, {0, 0, 2000, "Google Workspace"}},
                        {"google-trial", true, {0, 0, 500, "Google Workspace"}}, {"10 per 6", true, {10, 6, 0, ""}},
                        {"0 per 60", false, {}}, {"30 per 0", false, {}}, {"30/60", false, {}},
                        {"30 per 60s", false, {}}, {"", false, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Pace pace{7, 7, 7, "x"};
    std::string error;
    EXPECT_EQ(emailaccess::ParsePace(c.text, pace, error), c.ok);
    if (c.ok) EXPECT_TRUE(pace == c.pace);
    else EXPECT_NE(error.find(c.text), std::string::npos) << error;
  }
}

TEST(PaceTest, TheWindowAndTheDayCapCountWhatWentOutAndForeseeWhenTheRestIsOut) {
  struct Case {
    Pace pace;
    const char* history;  // as an earlier run left it
    long long now;
    Holdback heldBy;
    long long next;  // NextSendAllowed
    int more;
    long long allGoneBy;
  };
  const Pace window{3, 60, 0, ""};
  const Pace daily{0, 0, 2, ""};
  const Pace both{2, 60, 3, ""};
  const Case cases[] = {
      {window, "", 1000, Holdback::None, 1000, 3, 1000},                    // an empty window takes three at once
      // A place frees a second after the window, since times are whole seconds.
      {window, "", 1000, Holdback::None, 1000, 4, 1061},                    // the fourth waits for the first
      {window, "950\n960\n970\n", 1000, Holdback::Window, 1011, 1, 1011},  // full: the oldest frees its place
      {window, "900\n960\n970\n", 1000, Holdback::None, 1000, 3, 1031},    // the oldest aged out already
      {window, "not a time\n950\n", 1000, Holdback::None, 1000, 2, 1000},  // stray lines are left out
      // The day cap counts over a rolling 24 hours.
      {daily, "100\n200\n", 1000, Holdback::DayCap, 101 + kDay, 1, 101 + kDay},
      {daily, "100\n200\n", 200 + kDay, Holdback::None, 200 + kDay, 2, 200 + kDay},
      {daily, "", 1000, Holdback::None, 1000, 5, 1002 + 2 * kDay},
      // The later of the two limits holds it.
      {both, "990\n995\n", 1000, Holdback::Window, 1051, 2, 1051 + kDay - 60},
      {both, "10\n990\n995\n", 1000, Holdback::DayCap, 11 + kDay, 1, 11 + kDay},
      {Pace{}, "1\n1\n1\n", 1, Holdback::None, 1, 5, 1},  // unpaced never holds back
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.history) + " at " + std::to_string(c.now));
    const SlidingWindow window(c.pace, c.history);
    EXPECT_EQ(window.HeldBy(c.now), c.heldBy);
    EXPECT_EQ(window.NextSendAllowed(c.now), c.next);
    EXPECT_EQ(window.Allows(c.now), c.heldBy == Holdback::None);
    EXPECT_EQ(window.AllGoneBy(c.now, c.more), c.allGoneBy);
  }
}

TEST(PaceTest, AProvidersHoldLastsItsTimeAndOutlivesTheRun) {
  struct Case {
    Pace pace;
    const char* history;
    bool quota;
    long long now, until;
    int asked = -1;  // the seconds a throttling answer asked to wait
  };
  const Case cases[] = {
      // Until the oldest message of the last 24 hours turns 24 hours old.
      {Pace{}, "50\n5000\n6000\n", true, 90000, 5000 + kDay},
      {Pace{}, "50\n", true, 50 + kDay, 50 + 2 * kDay},  // none known in the last 24 hours
      {Pace{30, 6, 0, ""}, "", false, 7000, 7006},       // asked to slow down: the window
      {Pace{}, "", false, 7000, 7060},                   // ... or a minute without one
      {Pace{30, 60, 0, ""}, "", false, 7000, 7120, 120},  // ... or the longer wait it asked for
      {Pace{30, 60, 0, ""}, "", false, 7000, 7060, 5},    // ... never a shorter one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.history);
    SlidingWindow window(c.pace, c.history);
    if (c.quota) window.HoldForQuota(c.now);
    else window.HoldForThrottling(c.now, c.asked);
    const SlidingWindow later(c.pace, window.Save());  // the next run reads it back
    EXPECT_EQ(later.HeldBy(c.until - 1), c.quota ? Holdback::Quota : Holdback::Throttled);
    EXPECT_EQ(later.NextSendAllowed(c.now), c.until);
    EXPECT_EQ(later.HeldBy(c.until), Holdback::None);
  }
}

}  // namespace
