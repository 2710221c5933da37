// The one rule for trying again: how many attempts, the waits between them
// (doubling, each logged), and that a failure that will not pass, or one on
// the last chance, ends it at once.
#include "email_test_support.h"
#include "emailaccess/retry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using emailaccess::FailureScope;
using emailaccess::TransportError;
using emailaccess::TryAgain;

struct RetryCase {
  int retries;
  int failuresFirst;   // attempts that fail for now before one succeeds
  bool lastIsFinal;    // the attempt throws its final error on its last chance
  int attempts;        // expected
  bool succeeds;
  std::vector<std::string> logged;  // the waits, in order
};

TEST(RetryRule, TriesAgainWithDoublingWaitsUpToTheLimit) {
  const RetryCase cases[] = {
      {3, 0, true, 1, true, {}},
      {3, 2, true, 3, true, {"trying again in 1 ms", "trying again in 2 ms"}},
      {3, 3, true, 4, true, {"trying again in 1 ms", "trying again in 2 ms", "trying again in 4 ms"}},
      {3, 9, true, 4, false, {"trying again in 1 ms", "trying again in 2 ms", "trying again in 4 ms"}},
      {0, 9, true, 1, false, {}},
      // An attempt that ignores its last chance still ends there, as a
      // temporary failure.
      {1, 9, false, 2, false, {"trying again in 1 ms"}},
  };
  for (const RetryCase& c : cases) {
    emailaccess_test::Installation inst;
    emailaccess::NetworkSettings network;
    network.retries = c.retries;
    network.retryWaitMs = 1;
    int attempts = 0;
    bool succeeded = false;
    try {
      succeeded = emailaccess::WithRetries(network, inst.log, [&](int number, bool last) {
        EXPECT_EQ(number, attempts);
        EXPECT_EQ(last, number >= c.retries);
        ++attempts;
        if (number < c.failuresFirst) {
          if (last && c.lastIsFinal) throw TransportError("server out of reach", true, FailureScope::Connection);
          throw TryAgain("IMAP test: reading", "connection lost", FailureScope::Connection);
        }
        return true;
      });
    } catch (const TransportError& e) {
      EXPECT_TRUE(e.temporary()) << c.retries << "/" << c.failuresFirst;
    }
    EXPECT_EQ(attempts, c.attempts) << c.retries << "/" << c.failuresFirst;
    EXPECT_EQ(succeeded, c.succeeds) << c.retries << "/" << c.failuresFirst;
    const std::string log = inst.LogText();
    size_t at = 0;
    for (const std::string& wait : c.logged) {
      at = log.find("IMAP test: reading failed for now (connection lost), " + wait, at);
      EXPECT_NE(at, std::string::npos) << wait << "\n" << log;
    }
    EXPECT_EQ(log.find("trying again in " + std::to_string(1 << c.logged.size()) + " ms"), std::string::npos) << log;
  }
}

TEST(RetryRule, AFailureThatWillNotPassIsNeverTriedAgain) {
  emailaccess_test::Installation inst;
  emailaccess::NetworkSettings network;
  network.retryWaitMs = 1;
  int attempts = 0;
  EXPECT_THROW(emailaccess::WithRetries(network, inst.log,
                                        [&](int, bool) -> int {
                                          ++attempts;
                                          throw TransportError("refused", false);
                                        }),
               TransportError);
  EXPECT_EQ(attempts, 1);
}

}  // namespace
